// Building a Polyglot opening book from the opening moves of PGN games.
#pragma once

// Half-moves of every game that go into the book.
constexpr int BOOK_BUILD_PLIES = 36;
constexpr const char* BOOK_BUILD_FILE = "tmp_book.bin";

// Reads pgn_file and writes tmp_book.bin in the working directory; returns
// silently when the PGN file cannot be opened.
void build_book(const char* pgn_file);
