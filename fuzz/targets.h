// Fuzz entry points: plain functions over one input, shared by the libFuzzer
// drivers and by the replay program that runs saved inputs. Each aborts on
// a wrong result; the sanitizers catch everything else.
#pragma once

#include <cstddef>
#include <cstdint>

// Decodes the input as a stream into a destination whose size the first two
// bytes choose: never a read or write out of bounds, never a copy from
// before the output.
int FuzzDecodeStream(const uint8_t* data, size_t size);

// Opens the input as an archive image and extracts every member through a
// platform that discards what it writes.
int FuzzOpenAndExtract(const uint8_t* data, size_t size);

// Compresses the input in both modes (the first byte is a seed that repeats
// parts of it, to give the match finder long and overlapping matches) and
// checks that both decode to it and that optimal is not longer than fast;
// then again through the streamed compressor in small blocks, in pieces of
// random sizes on a random number of threads, against one piece on one.
int FuzzRoundTrip(const uint8_t* data, size_t size);

// Decodes the input as a stream twice, whole and in pieces through a buffer
// whose size the third byte chooses (the first two choose the output size):
// both give the same bytes and the same verdict at the same place.
int FuzzChunkedDecode(const uint8_t* data, size_t size);

// Puts an archive (as long as the first byte says, times 37) into the rest
// of the input as an updater stub, as qa2 build does: the writer refuses or
// gives an image in which the reader finds exactly that archive, with the
// checksum brought up to date.
int FuzzStubWriter(const uint8_t* data, size_t size);

// The first half of the input is an old file and the rest a patch for it:
// applied in pieces it reads only inside the old file and makes at most the
// size its header claims. The rest is then made from the old half and the
// patch applied gives it back. The input is also parsed as a patch table.
int FuzzPatch(const uint8_t* data, size_t size);

// Arbitrary images through the PE readers and the resource lookup of
// qa2's reading commands: refused, or answered within the input.
int FuzzPeReaders(const uint8_t* data, size_t size);
