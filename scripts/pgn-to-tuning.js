#!/usr/bin/env node
'use strict';
// Turns match-runner games into tuning lines for `vorn -texel`:
//   FEN bm MOVE; ce SCORE; c9 "RESULT";
// one per scored position, the score from the mover's view in centipawns.
// Unlike the engine's own PGN scanner it follows games that start from a FEN
// tag, so games from EPD opening sets can be used.  Which positions are kept
// follows that scanner: not in check, from the game's twelfth half-move on,
// not in the last eight, at most 32 half-moves since a capture or pawn move,
// and no more than 36 half-moves without a change of material.
//
//   node scripts/pgn-to-tuning.js GAMES.pgn > OUT.epd
//
// chess.js is taken from the match runner's node_modules ($MATCH_DIR, by
// default /work/tools/match).
const fs = require('fs');
const path = require('path');

const matchDir = process.env.MATCH_DIR || '/work/tools/match';
const { Chess } = require(path.join(matchDir, 'node_modules', 'chess.js'));

const START = 'rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1';

// "+0.35/14 0.05s" -> 35; "+M5/20" -> 9000; "book" or no score -> null.
function commentScore(comment) {
  const m = /([+-]?(?:M\d+|\d+(?:\.\d+)?))\/\d+/.exec(comment || '');
  if (!m) return null;
  if (m[1].includes('M')) return m[1].startsWith('-') ? -9000 : 9000;
  return Math.trunc(parseFloat(m[1]) * 100);
}

function* games(text) {
  const blocks = text.split(/\n(?=\[Event )/);
  for (const block of blocks) {
    const tags = {};
    for (const m of block.matchAll(/^\[(\w+) "(.*)"\]$/gm)) tags[m[1]] = m[2];
    const body = block.replace(/^\[.*\]$/gm, '');
    const moves = [];
    const re = /\{([^}]*)\}|(\d+\.(?:\.\.)?)|(1-0|0-1|1\/2-1\/2|\*)|([^\s{}]+)/g;
    for (const m of body.matchAll(re)) {
      if (m[1] !== undefined && moves.length) moves[moves.length - 1].comment = m[1];
      else if (m[4] !== undefined) moves.push({ san: m[4], comment: '' });
    }
    if (tags.Result) yield { tags, moves };
  }
}

function materialKey(fen) {
  return fen.split(' ')[0].replace(/[^a-zA-Z]/g, '').split('').sort().join('');
}

function convert(file) {
  const out = [];
  let count = 0;
  for (const g of games(fs.readFileSync(file, 'utf8'))) {
    const result = g.tags.Result;
    if (!['1-0', '0-1', '1/2-1/2'].includes(result)) continue;
    const chess = new Chess(g.tags.FEN || START);
    const n = g.moves.length;
    let streak = 0;
    let lastMaterial = '';
    for (let i = 0; i < n && i <= 220 && i <= n - 9; ++i) {
      const fen = chess.fen();
      const material = materialKey(fen);
      streak = material === lastMaterial ? streak + 1 : 0;
      lastMaterial = material;
      const score = commentScore(g.moves[i].comment);
      const halfmoves = Number(fen.split(' ')[4]);
      const inCheck = chess.inCheck();
      let played;
      try {
        played = chess.move(g.moves[i].san);
      } catch {
        break;
      }
      if (i < 12 || score === null || halfmoves > 32 || streak > 36 || inCheck) continue;
      const epd = fen.split(' ').slice(0, 4).join(' ');
      out.push(`${epd} bm ${played.san}; ce ${score}; c9 "${result}";`);
    }
    ++count;
  }
  process.stdout.write(out.join('\n') + (out.length ? '\n' : ''));
  process.stderr.write(`games= ${count}, positions= ${out.length}\n`);
}

if (process.argv.length !== 3) {
  process.stderr.write('usage: node scripts/pgn-to-tuning.js GAMES.pgn > OUT.epd\n');
  process.exit(2);
}
convert(process.argv[2]);
