// The camera's identity, probe and keep-alive queries for each work mode and
// the answers the box must give, byte for byte, with the checker that matches
// received frames against the queries still waiting for an answer.
#pragma once

#include <cstddef>
#include <cstdint>

enum WorkMode { kModeOsmo = 0, kModeInspire = 1 };

// How bytes 6-7 of an answer relate to the query.
enum SeqRule { kSeqCopied, kSeqZero, kSeqNew };

struct CameraQuery {
  const char* name;
  uint8_t length;  // 13, 14 or 15
  uint8_t sender, receiver, type, set, id;
  const uint8_t* answer;  // the stored answer frame, checksum placeholders included
  uint8_t answer_length;
  SeqRule seq_rule;
  bool echo_byte11;  // the answer's payload byte echoes the query's byte 11
  bool keepalive;    // sent every second rather than with the query round
  int byte11;        // the query's byte 11 where the box tests it, -1 where any value goes
};

// The queries of one work mode.
const CameraQuery* QueriesForMode(int mode, int* count);

// Builds the query frame; byte11 goes into the first payload byte (14 and 15).
size_t BuildQuery(const CameraQuery& q, uint16_t sequence, uint8_t byte11, uint8_t* out);

// The exact answer expected for a query sent with this sequence and byte 11
// (for kSeqNew bytes 6-7 are left 0 and not compared).
size_t ExpectedAnswer(const CameraQuery& q, uint16_t query_sequence, uint8_t byte11, uint8_t* out);

constexpr int kMaxPending = 64;

struct PendingAnswer {
  const CameraQuery* query;
  uint16_t sequence;
  uint8_t byte11;
  double deadline;
};

struct AnswerChecker {
  PendingAnswer pending[kMaxPending];
  int count = 0;
  int ok = 0, mismatched = 0, missing = 0;
};

void ExpectAnswer(AnswerChecker* c, const CameraQuery* q, uint16_t sequence, uint8_t byte11, double deadline);

enum AnswerResult { kNotAnAnswer, kAnswerOk, kAnswerMismatch };

// Matches a received frame against the waiting queries (by sender, receiver,
// set and id). On a match the query stops waiting and line holds an
// "answer ok ..." or "answer mismatch ..." line.
AnswerResult CheckAnswer(AnswerChecker* c, const uint8_t* frame, size_t length, char* line, size_t line_size);

// Drops the queries whose deadline has passed; writes one "answer missing"
// line per query into lines (one per row of line_size bytes). Returns the count.
int ExpireAnswers(AnswerChecker* c, double now, char (*lines)[160], int max_lines);
