#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <tuple>

#include "codec/CodecLibrary.h"

namespace corvald {
namespace {

struct ProbeResult {
  int exitCode;
  QString output;
};

// Runs the probe program, with `preload` loaded ahead of every other library if given.
ProbeResult RunProbe(const QString& preload) {
  QProcess probe;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  if (!preload.isEmpty()) environment.insert("LD_PRELOAD", preload);
  probe.setProcessEnvironment(environment);
  probe.start(CORVALD_CODEC_LIBRARY_PROBE, {});
  probe.waitForFinished(60000);
  return {probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -1,
          QString::fromUtf8(probe.readAllStandardOutput()).trimmed()};
}

// The linked zlib is usable; one of another major version, loaded ahead of it, is not.
TEST(CodecLibrary, OnlyAZlibOfTheLinkedMajorVersionIsUsable) {
  EXPECT_TRUE(CodecLibraryUsable());
  for (const auto& [preload, code, output] :
       {std::tuple<QString, int, QString>{"", 0, "usable"}, {CORVALD_FAKE_ZLIB_VERSION, 1, "unusable"}}) {
    const ProbeResult result = RunProbe(preload);
    EXPECT_EQ(result.exitCode, code) << preload.toStdString();
    EXPECT_EQ(result.output, output);
  }
}

}  // namespace
}  // namespace corvald
