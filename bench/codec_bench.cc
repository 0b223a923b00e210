// Deflate engines side by side on the same 16 MiB of mixed items (text-like
// and incompressible, 1 KiB .. 2 MiB): Crypto++ (the reference engine),
// zlib, libdeflate and ISA-L, each compressing item by item as a sealed
// stream does and inflating what it wrote. Rates are plain bytes per second;
// the counter "size_vs_zlib" is the engine's total output over zlib level 6's.
//
// ISA-L compresses at its own levels 0..3 only; its row shows level 3.
#include <benchmark/benchmark.h>

#include <zlib.h>

#include <cstring>
#include <memory>
#include <vector>

#include <cryptopp/zlib.h>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include "package/seal/zlib_codec.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes TextLike(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"patch ", "client ", "folder ", "version ", "update ",
                                       "file ", "install ", "package ", "=", "1.0.", "\r\n",
                                       "config ", "message ", "data/", "bin/", "0 "};
  Bytes out;
  out.reserve(n + 16);
  while (out.size() < n) {
    seed = seed * 1664525u + 1013904223u;
    const char* word = kWords[(seed >> 24) % 16];
    out.insert(out.end(), word, word + std::strlen(word));
  }
  out.resize(n);
  return out;
}

Bytes Noise(size_t n, uint32_t seed) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    out[i] = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

const std::vector<Bytes>& Items() {
  static const std::vector<Bytes> items = [] {
    std::vector<Bytes> out;
    const size_t total = 16u << 20;
    size_t used = 0;
    uint32_t seed = 777;
    for (int i = 0; used < total; ++i) {
      seed = seed * 1664525u + 1013904223u;
      size_t size = std::min((size_t{1024} << ((seed >> 20) % 12)) + seed % 997, total - used);
      out.push_back(i % 2 == 0 ? TextLike(size, seed) : Noise(size, seed));
      used += size;
    }
    return out;
  }();
  return items;
}

int64_t PlainBytes() {
  int64_t total = 0;
  for (const Bytes& item : Items()) total += static_cast<int64_t>(item.size());
  return total;
}

struct Engine {
  // Both return the produced length, or -1.
  virtual long Deflate(const Bytes& in, Bytes& out) = 0;
  virtual long Inflate(const uint8_t* in, size_t n, Bytes& out) = 0;
  virtual ~Engine() = default;
};

struct CodecEngine : Engine {
  explicit CodecEngine(ZlibCodec* c) : codec(c) {}
  Owned<ZlibCodec> codec;
  long Deflate(const Bytes& in, Bytes& out) override {
    out.resize(in.size() + in.size() / 100 + 64);
    int32_t n = static_cast<int32_t>(out.size());
    return codec->Compress(in.data(), static_cast<int32_t>(in.size()), out.data(), &n) == 0 ? n : -1;
  }
  long Inflate(const uint8_t* in, size_t size, Bytes& out) override {
    int32_t n = static_cast<int32_t>(out.size());
    return codec->Decompress(in, static_cast<int32_t>(size), out.data(), &n) == 0 ? n : -1;
  }
};

struct ZlibEngine : Engine {
  long Deflate(const Bytes& in, Bytes& out) override {
    out.resize(compressBound(in.size()));
    uLongf n = out.size();
    return compress2(out.data(), &n, in.data(), in.size(), 6) == Z_OK ? static_cast<long>(n) : -1;
  }
  long Inflate(const uint8_t* in, size_t size, Bytes& out) override {
    uLongf n = out.size();
    return uncompress(out.data(), &n, in, size) == Z_OK ? static_cast<long>(n) : -1;
  }
};

struct LibdeflateEngine : Engine {
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  ~LibdeflateEngine() override {
    libdeflate_free_compressor(c);
    libdeflate_free_decompressor(d);
  }
  long Deflate(const Bytes& in, Bytes& out) override {
    out.resize(libdeflate_zlib_compress_bound(c, in.size()));
    const size_t n = libdeflate_zlib_compress(c, in.data(), in.size(), out.data(), out.size());
    return n == 0 ? -1 : static_cast<long>(n);
  }
  long Inflate(const uint8_t* in, size_t size, Bytes& out) override {
    size_t n = 0;
    return libdeflate_zlib_decompress(d, in, size, out.data(), out.size(), &n) == LIBDEFLATE_SUCCESS
               ? static_cast<long>(n)
               : -1;
  }
};

struct IsalEngine : Engine {
  Bytes level_buffer = Bytes(ISAL_DEF_LVL3_DEFAULT);
  long Deflate(const Bytes& in, Bytes& out) override {
    out.resize(in.size() + in.size() / 100 + 1024);
    isal_zstream stream;
    isal_deflate_init(&stream);
    stream.gzip_flag = IGZIP_ZLIB;
    stream.level = 3;
    stream.level_buf = level_buffer.data();
    stream.level_buf_size = static_cast<uint32_t>(level_buffer.size());
    stream.end_of_stream = 1;
    stream.flush = NO_FLUSH;
    stream.next_in = const_cast<uint8_t*>(in.data());
    stream.avail_in = static_cast<uint32_t>(in.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uint32_t>(out.size());
    if (isal_deflate(&stream) != COMP_OK || stream.internal_state.state != ZSTATE_END) return -1;
    return static_cast<long>(stream.total_out);
  }
  long Inflate(const uint8_t* in, size_t size, Bytes& out) override {
    inflate_state state;
    isal_inflate_init(&state);
    state.crc_flag = ISAL_ZLIB;
    state.next_in = const_cast<uint8_t*>(in);
    state.avail_in = static_cast<uint32_t>(size);
    state.next_out = out.data();
    state.avail_out = static_cast<uint32_t>(out.size());
    if (isal_inflate(&state) != ISAL_DECOMP_OK || state.block_state != ISAL_BLOCK_FINISH) return -1;
    return static_cast<long>(state.total_out);
  }
};

std::unique_ptr<Engine> MakeEngine(int which) {
  switch (which) {
    case 0: return std::make_unique<CodecEngine>(CreateReferenceZlibCodec());
    case 1: return std::make_unique<ZlibEngine>();
    case 2: return std::make_unique<LibdeflateEngine>();
    case 3: return std::make_unique<IsalEngine>();
    default: return std::make_unique<CodecEngine>(CreateZlibCodec());
  }
}

const char* const kEngineNames[] = {"cryptopp", "zlib", "libdeflate", "isal_l3", "ZlibCodec"};

int64_t ZlibTotal() {
  static const int64_t total = [] {
    ZlibEngine zlib;
    int64_t sum = 0;
    Bytes out;
    for (const Bytes& item : Items()) sum += zlib.Deflate(item, out);
    return sum;
  }();
  return total;
}

void BM_Deflate(benchmark::State& state) {
  auto engine = MakeEngine(static_cast<int>(state.range(0)));
  state.SetLabel(kEngineNames[state.range(0)]);
  Bytes out;
  int64_t total = 0;
  for (auto _ : state) {
    total = 0;
    for (const Bytes& item : Items()) {
      const long n = engine->Deflate(item, out);
      if (n < 0) state.SkipWithError("deflate failed");
      total += n;
    }
  }
  state.counters["size_vs_zlib"] = static_cast<double>(total) / static_cast<double>(ZlibTotal());
  state.SetBytesProcessed(state.iterations() * PlainBytes());
}

void BM_Inflate(benchmark::State& state) {
  auto engine = MakeEngine(static_cast<int>(state.range(0)));
  state.SetLabel(kEngineNames[state.range(0)]);
  std::vector<Bytes> packed;
  for (const Bytes& item : Items()) {
    Bytes out;
    const long n = engine->Deflate(item, out);
    if (n < 0) {
      state.SkipWithError("deflate failed");
      return;
    }
    out.resize(static_cast<size_t>(n));
    packed.push_back(std::move(out));
  }
  Bytes plain(4u << 20);
  for (auto _ : state) {
    for (size_t i = 0; i < packed.size(); ++i) {
      const long n = engine->Inflate(packed[i].data(), packed[i].size(), plain);
      if (n != static_cast<long>(Items()[i].size())) state.SkipWithError("inflate failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * PlainBytes());
}

BENCHMARK(BM_Deflate)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Inflate)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace marrowgate

BENCHMARK_MAIN();
