// zlib against libdeflate on record data, for the choice of QmZip's deflate library:
// compression of 1 MiB pieces at the levels around zip's default, and inflation.
// The counters show throughput and the compressed size in percent of the input.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <vector>

#include "record_data.h"

namespace {

constexpr size_t kPiece = size_t{1} << 20;
constexpr size_t kPieces = 16;

const std::string& Data() {
  static const std::string data = qm::bench::RecordData(kPiece * kPieces, 1);
  return data;
}

void ZlibDeflate(benchmark::State& state) {
  const std::string& data = Data();
  z_stream stream{};
  deflateInit2(&stream, static_cast<int>(state.range(0)), Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&stream, kPiece) + 16);
  size_t compressed = 0;
  for (auto _ : state) {
    compressed = 0;
    for (size_t piece = 0; piece < kPieces; ++piece) {
      deflateReset(&stream);
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + piece * kPiece));
      stream.avail_in = kPiece;
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      deflate(&stream, Z_FINISH);
      compressed += out.size() - stream.avail_out;
    }
  }
  deflateEnd(&stream);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["size_%"] = 100.0 * static_cast<double>(compressed) / static_cast<double>(data.size());
}

void LibdeflateDeflate(benchmark::State& state) {
  const std::string& data = Data();
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(static_cast<int>(state.range(0)));
  std::vector<uint8_t> out(libdeflate_deflate_compress_bound(compressor, kPiece));
  size_t compressed = 0;
  for (auto _ : state) {
    compressed = 0;
    for (size_t piece = 0; piece < kPieces; ++piece)
      compressed += libdeflate_deflate_compress(compressor, data.data() + piece * kPiece, kPiece, out.data(), out.size());
  }
  libdeflate_free_compressor(compressor);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["size_%"] = 100.0 * static_cast<double>(compressed) / static_cast<double>(data.size());
}

std::vector<uint8_t> Compressed() {
  const std::string& data = Data();
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
  std::vector<uint8_t> out(libdeflate_deflate_compress_bound(compressor, data.size()));
  out.resize(libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(), out.size()));
  libdeflate_free_compressor(compressor);
  return out;
}

void ZlibInflate(benchmark::State& state) {
  const std::vector<uint8_t> compressed = Compressed();
  std::vector<uint8_t> out(Data().size());
  for (auto _ : state) {
    z_stream stream{};
    inflateInit2(&stream, -15);
    stream.next_in = const_cast<Bytef*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

void LibdeflateInflate(benchmark::State& state) {
  const std::vector<uint8_t> compressed = Compressed();
  std::vector<uint8_t> out(Data().size());
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  for (auto _ : state)
    libdeflate_deflate_decompress(decompressor, compressed.data(), compressed.size(), out.data(), out.size(), nullptr);
  libdeflate_free_decompressor(decompressor);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

BENCHMARK(ZlibDeflate)->Arg(4)->Arg(5)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(LibdeflateDeflate)->Arg(4)->Arg(5)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(ZlibInflate)->Unit(benchmark::kMillisecond);
BENCHMARK(LibdeflateInflate)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
