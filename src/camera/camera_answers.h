// Answers to the camera's identity, probe and keep-alive queries. The camera
// looks for a particular unit on the far end and keeps the link only while its
// queries are answered as that unit would; the answers differ by work mode.
#pragma once

#include <cstddef>
#include <cstdint>

// One query of 13, 14 or 15 bytes (the whole frame); other lengths are no query.
void AnswerCameraQuery(const uint8_t* frame, size_t length);
