#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

#include "platform/AnsiCodePage.h"

namespace corvald {
namespace {

// Python's own cp1252 codec is the reference for the 251 defined bytes; the five
// it leaves undefined map to the C1 control of the same value.
QString PythonCp1252Table() {
  QProcess python;
  python.start("python3", {"-c",
                           "import sys\n"
                           "out = ''.join(bytes([b]).decode('cp1252', errors='ignore') or chr(b) "
                           "for b in range(256))\n"
                           "sys.stdout.buffer.write(out.encode('utf-8'))\n"});
  python.waitForFinished();
  return QString::fromUtf8(python.readAllStandardOutput());
}

TEST(AnsiCodePage, EveryByteMatchesPythonsCp1252AndSurvivesTheRoundTrip) {
  const QString expected = PythonCp1252Table();
  ASSERT_EQ(expected.size(), 256);
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));

  EXPECT_EQ(FromAnsi(all), expected);
  EXPECT_EQ(ToAnsi(FromAnsi(all)), all);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(QString::fromStdString(AnsiToUtf8(all)), expected);
}

// Characters outside the code page become question marks; NULs are characters
// like any other.
TEST(AnsiCodePage, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  EXPECT_EQ(ToAnsi(QString::fromUtf8("a\u0100b\u4e2d\U0001F600c\u20ac")), "a?b??c\x80");
  EXPECT_EQ(ToAnsi(FromAnsi(std::string("a\0b\0", 4))), std::string("a\0b\0", 4));
}

}  // namespace
}  // namespace corvald
