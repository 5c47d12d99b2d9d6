#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

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

TEST(CodecLibrary, TheLinkedZlibIsUsable) {
  EXPECT_TRUE(CodecLibraryUsable());

  const ProbeResult result = RunProbe({});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "usable");
}

TEST(CodecLibrary, AZlibOfAnotherMajorVersionIsRejected) {
  const ProbeResult result = RunProbe(CORVALD_FAKE_ZLIB_VERSION);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.output, "unusable");
}

}  // namespace
}  // namespace corvald
