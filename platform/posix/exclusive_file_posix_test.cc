// ExclusiveFile on POSIX: the lock behaves like share mode 0 across processes, and one call
// moves every byte. FileBuffer: whole, writable memory of any size, or none.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack::platform {
namespace {

// No other opener gets a held file, and it cannot be deleted; a refused create empties nothing.
// The lock is flock's, which keeps a second opener in this process out just as one in another
// process. It travels with the handle when it is moved, and one call moves every byte.
TEST(ExclusiveFile, AHolderKeepsEveryOtherOpenerOutAndWholeLengthsMove) {
  testing::TempDir dir;
  const std::wstring path = NarrowToWide((dir / "f").string());
  std::string data(3 << 20, '\0'), back(data.size(), '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
  ExclusiveFile holder = ExclusiveFile::CreateForWriting(path);
  ASSERT_TRUE(holder.Write(data.data(), data.size()));
  EXPECT_FALSE(ExclusiveFile::OpenForReading(path).IsOpen() ||
               ExclusiveFile::CreateForWriting(path).IsOpen() || DeleteFileAt(path));
  holder.Close();
  holder = ExclusiveFile::OpenForReading(path);
  EXPECT_FALSE(ExclusiveFile::OpenForReading(path).IsOpen());
  EXPECT_TRUE(holder.Read(back.data(), back.size()) && back == data);
  EXPECT_FALSE(holder.Read(back.data(), 1));  // past the end is a failure, not a short read
  ASSERT_EQ(mkfifo((dir / "f.fifo").c_str(), 0600), 0);  // a plain open would wait for a writer
  EXPECT_FALSE(ExclusiveFile::OpenForReading(path + L".fifo").IsOpen());
}

TEST(FileBuffer, EverySizeIsWholeOrNothing) {
  for (const std::size_t size : {std::size_t{0}, (std::size_t{2} << 20) + 104}) {
    FileBuffer buffer(size);
    ASSERT_TRUE(buffer.Data() != nullptr && buffer.Size() == size);
    for (std::size_t i = 0; i < size; ++i) buffer.Data()[i] = 0xA5;  // every byte is there
  }
  EXPECT_EQ(FileBuffer(std::size_t{1} << 62).Data(), nullptr);
  EXPECT_EQ(FileBuffer(~std::size_t{4095}).Data(), nullptr);  // would overflow when rounded up
}

}  // namespace
}  // namespace uippack::platform
