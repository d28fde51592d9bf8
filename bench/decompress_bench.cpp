// One whole process's decompression, the way `qa2 decompress` does it and
// the alternatives: read the input whole, decode, write the output.
//
//   qa_decompress_bench compress IN OUT.QA OUT.Z   (fast-mode stream, raw deflate -1)
//   qa_decompress_bench qa2|qa2-raw|chunked|zlib IN OUT SIZE
//
// qa2: into a zero-filled vector, as `qa2 decompress` does; qa2-raw: into
// memory that is not filled first; chunked: through a 1 MB buffer written
// piece by piece; zlib: raw inflate into a zero-filled vector. Prints the
// seconds and MB/s of output; run under /usr/bin/time for the whole process.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/decoder.h"
#include "archive/encoder.h"

namespace {

std::vector<uint8_t> ReadAll(const char* path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path, "rb");
  if (!f) return bytes;
  std::fseek(f, 0, SEEK_END);
  bytes.resize(size_t(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
  std::fclose(f);
  return bytes;
}

bool WriteAll(const char* path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "compress") == 0) {
    std::vector<uint8_t> in = ReadAll(argv[2]);
    CompressedStream s;
    if (!CompressArchiveStream(in.data(), in.size(), CompressionMode::Fast, &s)) return 1;
    std::vector<uint8_t> z(compressBound(uLong(in.size())) + 1024);
    z_stream zs{};
    deflateInit2(&zs, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    zs.next_in = in.data();
    zs.avail_in = uInt(in.size());
    zs.next_out = z.data();
    zs.avail_out = uInt(z.size());
    deflate(&zs, Z_FINISH);
    z.resize(zs.total_out);
    deflateEnd(&zs);
    std::printf("%zu bytes: qa2 fast %zu, zlib -1 %zu\n", in.size(), s.bytes.size(), z.size());
    return WriteAll(argv[3], s.bytes.data(), s.bytes.size()) &&
                   WriteAll(argv[4], z.data(), z.size())
               ? 0
               : 1;
  }
  if (argc != 5) {
    std::fprintf(stderr, "usage: see the comment at the top of bench/decompress_bench.cpp\n");
    return 2;
  }
  const std::string mode = argv[1];
  const size_t size = std::stoull(argv[4]);
  auto start = std::chrono::steady_clock::now();
  std::vector<uint8_t> in = ReadAll(argv[2]);
  bool ok = false;
  if (mode == "qa2" || mode == "qa2-raw") {
    std::vector<uint8_t> filled;
    std::unique_ptr<uint8_t[]> raw;
    uint8_t* out;
    if (mode == "qa2") {
      filled.resize(size);
      out = filled.data();
    } else {
      raw.reset(new uint8_t[size]);
      out = raw.get();
    }
    DecodeResult r = DecodeArchiveStream(out, size, in.data(), in.size());
    ok = r.ok() && r.written == size && WriteAll(argv[3], out, size);
  } else if (mode == "chunked") {
    std::vector<uint8_t> buffer(kDecodeHistory + (1u << 20));
    ChunkedDecoder d(in.data(), in.size(), size, buffer.data(), buffer.size());
    FILE* f = std::fopen(argv[3], "wb");
    const uint8_t* piece;
    size_t n;
    ok = f != nullptr;
    while (ok && d.Next(&piece, &n)) ok = std::fwrite(piece, 1, n, f) == n;
    if (f) ok = std::fclose(f) == 0 && ok;
    ok = ok && d.result().ok() && d.result().written == size;
  } else if (mode == "zlib") {
    std::vector<uint8_t> out(size);
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = in.data();
    zs.avail_in = uInt(in.size());
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    ok = inflate(&zs, Z_FINISH) == Z_STREAM_END && zs.total_out == size;
    inflateEnd(&zs);
    ok = ok && WriteAll(argv[3], out.data(), size);
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%-8s %.3f s, %.0f MB/s%s\n", mode.c_str(), s, size / s / 1e6, ok ? "" : " FAILED");
  return ok ? 0 : 1;
}
