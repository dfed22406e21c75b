// Shared pieces of the fuzz targets: a failed check that libFuzzer records
// as a crash, frames, and an independent model of how a reply is accepted.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fuzz/FakeLink.h"

namespace pesolink::fuzz {

// A broken rule aborts, so that the fuzzer keeps the input that shows it.
#define FUZZ_CHECK(cond, ...)                                                        \
    do {                                                                             \
        if (!(cond)) {                                                               \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::fprintf(stderr, __VA_ARGS__);                                       \
            std::fprintf(stderr, "\n");                                              \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

// A whole frame around a payload: F8 55 CE, length, payload, checksum.
Bytes Frame(const Bytes& payload);

// What the worker is to make of one reply: the response code it posts and
// the frame it leaves in the buffer (Buf[0 .. Length-1]).
struct Accepted {
    int code = 0;
    Bytes frame;
};

// TCP: the first piece is the whole reply; no piece at all is a time-out or
// a hang-up before the reply.
Accepted AcceptTcp(const ScriptedReply& reply);

// Serial: pieces are appended until the count equals the length field + 7,
// until the buffer is full, or until nothing more comes.
Accepted AcceptSerial(const ScriptedReply& reply);

// True for every code a result may take: 0, 1, 2, 7, the scale's error
// codes passed on, and the codes 4 and 5 of particular commands.
bool KnownResult(int result);

// True when the frame has the envelope and checksum the driver sends.
bool WellFormedRequest(const Bytes& frame);

}  // namespace pesolink::fuzz
