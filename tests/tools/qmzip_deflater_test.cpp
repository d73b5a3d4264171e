// The pieces of a file, compressed apart, must join into one deflate stream that any
// inflater reads back whole, whatever bit position each piece ends on.
#include <gtest/gtest.h>
#include <zlib.h>

#include "qmzip_harness.h"
#include "tools/qmzip/parallel_deflater.h"

namespace qm::qmzip::testing {
namespace {

std::string InflateAll(const std::string& compressed, size_t expected_size) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
  std::string output(expected_size + 1, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = reinterpret_cast<Bytef*>(output.data());
  stream.avail_out = static_cast<uInt>(output.size());
  const int result = inflate(&stream, Z_FINISH);
  EXPECT_EQ(result, Z_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0u) << "data after the end of the stream";
  output.resize(stream.total_out);
  inflateEnd(&stream);
  return output;
}

TEST(ParallelDeflaterTest, JoinedPiecesInflateToEachFileWithItsCrc) {
  ScratchDirectory scratch;
  std::vector<DeflateInput> inputs;
  std::vector<std::string> contents;
  // Sizes around piece boundaries, an empty file, and contents whose pieces end on
  // varying bit positions.
  const size_t sizes[] = {0, 1, ParallelDeflater::kPieceBytes, ParallelDeflater::kPieceBytes + 1,
                          3 * ParallelDeflater::kPieceBytes + 4321, 5 * ParallelDeflater::kPieceBytes - 1};
  for (size_t i = 0; i < std::size(sizes); ++i) {
    const std::string name = "file" + std::to_string(i);
    contents.push_back(RecordData(sizes[i], static_cast<uint32_t>(i + 11)));
    scratch.Write(name, contents.back());
    inputs.push_back(DeflateInput{scratch / name, sizes[i]});
  }
  ProgressReporter progress(false);
  ParallelDeflater deflater(inputs, 2, progress);
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::string joined;
    bool last = false;
    while (!last) {
      std::vector<uint8_t> piece;
      ASSERT_FALSE(deflater.Take(i, piece, last).has_value());
      joined.append(piece.begin(), piece.end());
    }
    EXPECT_TRUE(InflateAll(joined, sizes[i]) == contents[i]) << "file " << i;
    EXPECT_EQ(deflater.Crc(i), static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(contents[i].data()),
                                                           static_cast<uInt>(contents[i].size()))))
        << "file " << i;
  }
}

TEST(ParallelDeflaterTest, AFileThatShrinksIsAReadFailureNotAShortEntry) {
  ScratchDirectory scratch;
  scratch.Write("JOBS.DAT", RecordData(1000, 1));
  ProgressReporter progress(false);
  ParallelDeflater deflater({DeflateInput{scratch / "JOBS.DAT", 5000}}, 1, progress);
  std::vector<uint8_t> piece;
  bool last = false;
  Outcome failure = deflater.Take(0, piece, last);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->code, ExitCode::ReadWriteError);
  EXPECT_NE(failure->message.find("JOBS.DAT"), std::string::npos);
}

}  // namespace
}  // namespace qm::qmzip::testing
