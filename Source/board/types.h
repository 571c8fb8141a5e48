// Basic chess types shared by every subsystem: squares, colours, pieces,
// the 16-bit move code and the move-list entry.
#pragma once

#include <atomic>
#include <cstdint>

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i8 = std::int8_t;
using i16 = std::int16_t;
using i32 = std::int32_t;
using i64 = std::int64_t;
using f64 = double;

// Squares: a1 = 0 ... h1 = 7, a2 = 8 ... h8 = 63.
enum : int {
  A1, B1, C1, D1, E1, F1, G1, H1,
  A2, B2, C2, D2, E2, F2, G2, H2,
  A3, B3, C3, D3, E3, F3, G3, H3,
  A4, B4, C4, D4, E4, F4, G4, H4,
  A5, B5, C5, D5, E5, F5, G5, H5,
  A6, B6, C6, D6, E6, F6, G6, H6,
  A7, B7, C7, D7, E7, F7, G7, H7,
  A8, B8, C8, D8, E8, F8, G8, H8,
  NO_SQUARE
};

constexpr int file_of(int sq) { return sq & 7; }
constexpr int rank_of(int sq) { return sq >> 3; }
constexpr int make_square(int file, int rank) { return rank * 8 + file; }

enum : int { WHITE = 0, BLACK = 1 };

// Piece types; a piece code on the board is colour * 8 + type.
enum : int { EMPTY = 0, PAWN = 1, KNIGHT = 2, BISHOP = 3, ROOK = 4, QUEEN = 5, KING = 6 };

constexpr int make_piece(int colour, int type) { return colour * 8 + type; }
constexpr int type_of(int piece) { return piece & 7; }
constexpr int colour_of(int piece) { return piece >> 3; }

enum : int { CASTLE_WK = 1, CASTLE_WQ = 2, CASTLE_BK = 4, CASTLE_BQ = 8 };

// Move code: destination bits 0-5, origin bits 8-13, one promotion bit.
using Move = u16;
constexpr Move MOVE_NONE = 0;
constexpr Move MOVE_END = 0xFFFF;
constexpr Move PROMO_QUEEN = 0x0040;
constexpr Move PROMO_KNIGHT = 0x0080;
constexpr Move PROMO_BISHOP = 0x4000;
constexpr Move PROMO_ROOK = 0x8000;
constexpr Move PROMO_MASK = 0xC0C0;

constexpr int move_from(Move m) { return (m >> 8) & 63; }
constexpr int move_to(Move m) { return m & 63; }
constexpr Move make_move_code(int from, int to) { return Move((from << 8) | to); }
constexpr bool is_promotion(Move m) { return (m & PROMO_MASK) != 0; }
// Piece type a promotion produces, 0 when the move is no promotion.
constexpr int promotion_type(Move m) {
  return (m & PROMO_QUEEN) ? QUEEN : (m & PROMO_KNIGHT) ? KNIGHT : (m & PROMO_BISHOP) ? BISHOP
                                                          : (m & PROMO_ROOK)   ? ROOK
                                                                                : 0;
}

struct MoveEntry {
  Move move;
  i16 score;      // filled by the move picker
  u8 piece;       // piece code on the origin square
  u8 captured;    // piece code on the destination (0 for en passant and quiet moves)
};

// Largest number of pseudo-legal moves a position can have is 218; keep room.
constexpr int MAX_MOVES = 256;

// A value one thread writes and others read while it changes (counters,
// published scores).  Relaxed atomic loads and stores cost the same as plain
// ones on the targets we build for, and make the hand-off well defined; use
// it only where nothing else has to be ordered with the value.
template <typename T>
struct Relaxed {
  std::atomic<T> value{};
  Relaxed() = default;
  Relaxed(T v) : value(v) {}
  Relaxed(const Relaxed& other) : value(other.load()) {}
  T load() const { return value.load(std::memory_order_relaxed); }
  void store(T v) { value.store(v, std::memory_order_relaxed); }
  operator T() const { return load(); }
  Relaxed& operator=(T v) {
    store(v);
    return *this;
  }
  Relaxed& operator=(const Relaxed& other) {
    store(other.load());
    return *this;
  }
  // Single-writer increments: a load and a store, not a locked add.
  Relaxed& operator++() {
    store(T(load() + 1));
    return *this;
  }
  Relaxed& operator+=(T v) {
    store(T(load() + v));
    return *this;
  }
};
