// The read-ahead buffer of an open file, reading through the content
// controller from the local service.
#include "transfer/QBReadaheadController.h"
#include "transfer/TransferFixture.h"

namespace greyfox::test {
namespace {

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * 1024;

using TransferReadahead = TransferService;

TEST_F(TransferReadahead, SmallSequentialReadsGetTheFileAndKeepOnly128KiBBehind) {
  const std::size_t size = MiB + 300 * KiB + 11;
  service().putFile(kDemo, "/Transfer/seq.bin", patternBytes(size, 21));
  const std::string expected = serviceBytes("/Transfer/seq.bin");
  QBReadaheadController readahead("/Transfer/seq.bin", content);
  for (std::uint64_t at = 0; at < size; at += 4 * KiB) {
    auto got = readahead.request(at, 4 * KiB);
    ASSERT_TRUE(got) << "at " << at;
    ASSERT_TRUE(*got == expected.substr(at, 4 * KiB)) << "at " << at;
    if (at > kReadaheadKeptBehind) {
      ASSERT_EQ(readahead.offset(), at - kReadaheadKeptBehind) << "at " << at;
    }
    ASSERT_LE(readahead.bufferLength(), kReadaheadKeptBehind + kReadaheadPiece + 4 * KiB) << "at " << at;
  }
}

TEST_F(TransferReadahead, JumpsAndTheEndOfTheFile) {
  const std::size_t size = 3 * MiB + 99;
  service().putFile(kDemo, "/Transfer/jumps.bin", patternBytes(size, 22));
  const std::string expected = serviceBytes("/Transfer/jumps.bin");
  QBReadaheadController readahead("/Transfer/jumps.bin", content);
  Timings t = shortTimings();
  t.readaheadRepeatPause = 1;  // an end-of-file read must not pause at all
  Timings::install(t);

  struct Case {
    const char* name;
    std::uint64_t at, length;
  } cases[] = {
      {"start", 0, 64 * KiB},
      {"forward jump", 2 * MiB + 5, 128 * KiB},
      {"backward jump", 300 * KiB, 128 * KiB},
      {"back to the start", 10, 100},
      {"the tail, asked past the end", size - 100, 4 * KiB},
      {"past the end", size + 10, 4 * KiB},
      {"the tail again, from behind the buffer", size - 5000, 4 * KiB},
  };
  for (const Case& c : cases) {
    auto begin = std::chrono::steady_clock::now();
    auto got = readahead.request(c.at, c.length);
    ASSERT_TRUE(got) << c.name;
    std::string want = c.at < size ? expected.substr(c.at, c.length) : std::string();
    EXPECT_EQ(got->size(), want.size()) << c.name;
    EXPECT_TRUE(*got == want) << c.name;
    EXPECT_LT(secondsSince(begin), 0.9) << c.name << ": no retry pauses";
    EXPECT_LE(readahead.bufferLength(), 2 * kReadaheadKeptBehind + 2 * kReadaheadPiece) << c.name;
  }
}

TEST_F(TransferReadahead, UnreadableAndSlowFiles) {
  Timings t = shortTimings();
  t.downloadWait = 5;
  t.readaheadFillTimeout = 0.5;
  Timings::install(t);
  service().putFile(kDemo, "/Transfer/slow.bin", patternBytes(2 * MiB, 23));
  const std::string expected = serviceBytes("/Transfer/slow.bin");

  QBReadaheadController missing("/Transfer/missing.bin", content);
  EXPECT_EQ(missing.request(0, 4 * KiB), std::nullopt) << "a file that cannot be read";

  service().addFault({{"method", "GET"}, {"endpoint", "download/file.json"}, {"kind", "stall"},
                      {"after_bytes", 600 * KiB}, {"seconds", 1.5}});
  // The fill needs two pieces; the first waits out the stall, which is
  // longer than the whole fill may take.
  QBReadaheadController slow("/Transfer/slow.bin", content);
  auto begin = std::chrono::steady_clock::now();
  auto got = slow.request(MiB, 600 * KiB);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->size(), 0u) << "a fill that times out answers no bytes";
  EXPECT_LT(secondsSince(begin), 4.0);

  Timings::install(shortTimings());
  got = slow.request(MiB, 600 * KiB);
  ASSERT_TRUE(got);
  EXPECT_TRUE(*got == expected.substr(MiB, 600 * KiB)) << "once the download goes on";
}

}  // namespace
}  // namespace greyfox::test
