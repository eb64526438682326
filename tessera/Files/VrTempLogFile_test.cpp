// The durable section logs of a run (VrTempLogFile on a path in the run journal).
#include "tessera/Files/VrTempLogFile.h"

#include <sys/wait.h>
#include <unistd.h>

#include "tessera/Files/FilesTestSupport.h"

namespace {

using DurableLogTest = FilesTest;

// Every line written through reaches the disk before AppendLine returns: one flush per line,
// and a process ended right after a line (no destructor, no close) leaves the line in the file.
TEST_F(DurableLogTest, EveryLineIsFlushedAndSurvivesTheProcess) {
  const std::string log = N("faults.log");
  vr::fault::SetLogFile(log);
  {
    VrTempLogFile durable(W("prereq.log"), false, false);
    ASSERT_EQ(durable.GetPath(), W("prereq.log"));
    EXPECT_TRUE(durable.IsDurable());
    EXPECT_FALSE(durable.GetMakeBackup());
    EXPECT_TRUE(Exists("prereq.log"));  // created with the object
    ASSERT_EQ(durable.OpenForWriteAsNonBuffered(false), S_OK);
    durable.AppendLine(u"[[[PREREQUISITE_CHECK]]]", true);
    durable.AppendLine(u"[[SYSTEM_ADD]] S", true);
    EXPECT_EQ(durable.SaveFile(), S_OK);
  }
  vr::fault::SetLogFile("");
  const std::string points = Get("faults.log");
  size_t syncs = 0;
  for (size_t p = points.find("file.Sync#"); p != std::string::npos; p = points.find("file.Sync#", p + 1)) ++syncs;
  EXPECT_EQ(syncs, 2u);
  EXPECT_EQ(Get("prereq.log"), Utf16(u"[[[PREREQUISITE_CHECK]]]\r\n[[SYSTEM_ADD]] S\r\n"));
  EXPECT_TRUE(Exists("prereq.log")) << "without delete-on-destruction the journal owns the file";

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    VrTempLogFile durable(W("killed.log"), true, false);
    if (durable.OpenForWriteAsNonBuffered(false) != S_OK) ::_exit(2);
    durable.AppendLine(u"[[SYSTEM_ADD]] S", true);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Get("killed.log"), Utf16(u"[[SYSTEM_ADD]] S\r\n"));
}

// The lines of one committed change are flushed together: nested batches flush once, when the
// outermost ends, and a batch in which nothing was written flushes nothing.
TEST_F(DurableLogTest, ABatchOfLinesIsFlushedOnceWhenItEnds) {
  const std::string log = N("batch-faults.log");
  VrTempLogFile durable(W("batch.log"), true, false);
  ASSERT_EQ(durable.OpenForWriteAsNonBuffered(false), S_OK);
  const auto syncs = [&] {
    const std::string points = Get("batch-faults.log");
    size_t n = 0;
    for (size_t p = points.find("file.Sync#"); p != std::string::npos; p = points.find("file.Sync#", p + 1)) ++n;
    return n;
  };
  vr::fault::SetLogFile(log);
  {
    VrLogFile::SyncBatch batch(&durable);
    for (int i = 0; i < 50; ++i) durable.AppendLine(u"OS-VERSION ADD 9101 \"x\"", true);
    {
      VrLogFile::SyncBatch inner(&durable);
      durable.AppendLine(u"OS-VERSION ADD 9102 \"y\"", true);
    }
    EXPECT_EQ(syncs(), 0u);
  }
  EXPECT_EQ(syncs(), 1u);
  { VrLogFile::SyncBatch empty(&durable); }
  { VrLogFile::SyncBatch none(nullptr); }
  EXPECT_EQ(syncs(), 1u);
  durable.AppendLine(u"after", true);  // outside a batch: its own flush
  vr::fault::SetLogFile("");
  EXPECT_EQ(syncs(), 2u);
}

// A flush that fails is traced and the line stays in memory; a file that cannot be created
// leaves the log without path (the run then stops with its message).
TEST_F(DurableLogTest, FailedFlushIsTracedAndUncreatableFileLeavesNoPath) {
  VrTempLogFile durable(W("a.log"), true, false);
  ASSERT_EQ(durable.OpenForWriteAsNonBuffered(false), S_OK);
  vr::fault::Configure("file.Sync#1");
  durable.AppendLine(u"line", true);
  EXPECT_TRUE(Traced("-> subHR failure from FlushFileBuffers"));
  EXPECT_EQ(durable.GetContent(), u"line\r\n");

  VrTempLogFile missing(W("no/such/folder/b.log"), true, false);
  EXPECT_TRUE(missing.GetPath().empty());
  EXPECT_TRUE(Traced("-> subHR failure from CreateFile"));
}

}  // namespace
