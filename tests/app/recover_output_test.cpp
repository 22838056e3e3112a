// OUTDIR of a recovery: every file recover makes is listed before it is made and built
// aside until the run has its result; nothing is made outside the folder, whichever
// separator joined its name to a Windows folder; an earlier recovery stays as it was until
// the new one takes its place; and a folder holding anything else is never used.

#include <gtest/gtest.h>

#include <string>

#include "app/recover_output.h"
#include "core/errors.h"
#include "support/memory_file_system.h"

namespace quillon {
namespace {

std::string Text(const std::vector<std::uint8_t>& data) { return {data.begin(), data.end()}; }
std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

void Write(TStream& stream, const std::string& text) { stream.Write(text.data(), text.size()); }

// What a refused folder says, or "" when it is accepted.
std::string Refusal(IFileSystem& files, const std::string& dir, const TRecoverFolderRules& rules) {
  try {
    TRecoverFolder folder(files, dir, rules);
    return {};
  } catch (const EQuillonError& error) {
    return error.what();
  }
}

class RecoverFolderTest : public ::testing::Test {
 protected:
  // An earlier recovery in /out: its manifest lists two files.
  void PutEarlierRecovery() {
    files_.Put("/out/quillon-recover.manifest",
               Bytes("quillon-cli recover, version 1\ndatabase-1.sqlite\ndatabase-1/T.csv\n"));
    files_.Put("/out/database-1.sqlite", Bytes("old database"));
    files_.Put("/out/database-1/T.csv", Bytes("old table"));
  }

  testing::TMemoryFileSystem files_;
};

TEST_F(RecoverFolderTest, ListsWhatItMakesInsideAWindowsFolderAndRefusesTheRest) {
  TRecoverFolder folder(files_, "C:\\cases\\out", {});
  folder.Open();
  TRecoverOutputs outputs(folder);
  outputs.Begin();
  // The decoding joins with '/', the reading with the folder's own separator.
  EXPECT_NO_THROW(outputs.Open("C:\\cases\\out/database-1.sqlite", TOpenMode::CreateNew));
  EXPECT_NO_THROW(outputs.Open("C:\\cases\\out\\database-1/T.csv", TOpenMode::CreateNew));
  for (const char* outside :
       {"C:\\cases\\outer/x.csv", "C:\\cases\\out/../x.csv",
        "C:\\cases\\out\\quillon-recover.manifest", "C:\\cases\\x.csv",
        "C:\\cases\\out\\.quillon-recover.partial\\x.csv"}) {
    EXPECT_THROW(outputs.Open(outside, TOpenMode::CreateNew), EQuillonError) << outside;
  }
  // Until the commit nothing is at its final name; the run's files lie aside.
  EXPECT_EQ(files_.Find("C:\\cases\\out\\database-1.sqlite"), nullptr);
  EXPECT_EQ(outputs.Facts("C:\\cases\\out\\database-1.sqlite").Kind, TPathKind::File);
  EXPECT_NE(files_.Find("C:\\cases\\out\\.quillon-recover.partial\\database-1.sqlite"), nullptr);

  outputs.Commit();
  const auto manifest = files_.Find("C:\\cases\\out\\quillon-recover.manifest");
  ASSERT_NE(manifest, nullptr);
  EXPECT_EQ(Text(manifest->Data),
            "quillon-cli recover, version 1\ndatabase-1.sqlite\ndatabase-1/T.csv\n");
  EXPECT_NE(files_.Find("C:\\cases\\out\\database-1.sqlite"), nullptr);
  EXPECT_NE(files_.Find("C:\\cases\\out\\database-1\\T.csv"), nullptr);
  EXPECT_EQ(files_.ListFolder("C:\\cases\\out")->size(), 3u) << "no staging folder is left";
}

TEST_F(RecoverFolderTest, FoldersLeftEmptyByAStoppedDecodingAreNotPutInPlace) {
  // Stopped while it decoded: the folders of the next databases were made, none of their
  // tables written. Listed nowhere, in OUTDIR they would keep even --force out for good.
  {
    TRecoverFolder folder(files_, "/out", {});
    folder.Open();
    TRecoverOutputs outputs(folder);
    outputs.Begin();
    outputs.CreateFolder("/out/database-1");
    Write(*outputs.Open("/out/database-1/T.csv", TOpenMode::CreateNew), "table");
    outputs.CreateFolder("/out/database-2");
    outputs.CreateFolder("/out/database-3");
    outputs.CreateFolder("/out/database-3/inner");
    outputs.Commit();
  }
  EXPECT_NE(files_.Find("/out/database-1/T.csv"), nullptr);
  EXPECT_EQ(files_.Facts("/out/database-2").Kind, TPathKind::Missing);
  EXPECT_EQ(files_.Facts("/out/database-3").Kind, TPathKind::Missing);
  EXPECT_EQ(files_.Facts("/out/.quillon-recover.partial").Kind, TPathKind::Missing);
  TRecoverFolderRules force;
  force.Force = true;
  EXPECT_EQ(Refusal(files_, "/out", force), "");
}

TEST_F(RecoverFolderTest, TheEarlierRecoveryStaysUntilTheNewOneIsCompleteThenGoesWhole) {
  PutEarlierRecovery();
  TRecoverFolderRules force;
  force.Force = true;
  {
    // A run that fails: the earlier recovery is exactly as it was, and nothing is left.
    TRecoverFolder folder(files_, "/out", force);
    folder.Open();
    TRecoverOutputs outputs(folder);
    outputs.Begin();
    Write(*outputs.Create("fragments.pagemap"), "half a page map");
  }
  EXPECT_EQ(Text(files_.Find("/out/database-1.sqlite")->Data), "old database");
  EXPECT_EQ(Text(files_.Find("/out/database-1/T.csv")->Data), "old table");
  EXPECT_EQ(files_.ListFolder("/out")->size(), 3u);

  TRecoverFolder folder(files_, "/out", force);
  folder.Open();
  TRecoverOutputs outputs(folder);
  outputs.Begin();
  Write(*outputs.Create("database-1.sqlite"), "new database");
  Write(*outputs.Create("report.html"), "report");
  EXPECT_EQ(Text(files_.Find("/out/database-1.sqlite")->Data), "old database");
  outputs.Commit();
  EXPECT_EQ(Text(files_.Find("/out/database-1.sqlite")->Data), "new database");
  EXPECT_EQ(files_.Find("/out/database-1/T.csv"), nullptr) << "the earlier table goes";
  EXPECT_EQ(Text(files_.Find("/out/quillon-recover.manifest")->Data),
            "quillon-cli recover, version 1\ndatabase-1.sqlite\nreport.html\n");
  EXPECT_EQ(files_.ListFolder("/out")->size(), 3u);
}

TEST_F(RecoverFolderTest, RefusalsNameTheCauseAndTheWindowIsNotToldOfForce) {
  TRecoverFolderRules force;
  force.Force = true;
  TRecoverFolderRules window;
  window.ForceOffered = false;

  PutEarlierRecovery();
  EXPECT_NE(Refusal(files_, "/out", {}).find("add --force"), std::string::npos);
  const std::string inWindow = Refusal(files_, "/out", window);
  EXPECT_NE(inWindow.find("holds an earlier recovery"), std::string::npos) << inWindow;
  EXPECT_EQ(inWindow.find("--force"), std::string::npos) << inWindow;
  EXPECT_EQ(Refusal(files_, "/out", force), "");

  // A file no recover wrote: refused also with --force, and nothing is touched.
  files_.Put("/out/database-1/thesis.docx", Bytes("the person's own"));
  const std::string foreign = Refusal(files_, "/out", force);
  EXPECT_NE(foreign.find("database-1/thesis.docx"), std::string::npos) << foreign;
  EXPECT_NE(foreign.find("also not with --force"), std::string::npos) << foreign;
  EXPECT_EQ(Refusal(files_, "/out", window).find("--force"), std::string::npos);
  files_.Remove("/out/database-1/thesis.docx");

  // The source under any name inside the folder: refused before its name is looked at.
  TRecoverFolderRules reading = force;
  reading.Source = files_.Facts("/out/database-1.sqlite").Identity;
  reading.ShownSource = "/elsewhere/link.frag";
  EXPECT_NE(Refusal(files_, "/out", reading).find("\"/elsewhere/link.frag\" lies inside"),
            std::string::npos);

  // A folder without a manifest, a file in OUTDIR's place, a foreign manifest.
  files_.Put("/other/notes.txt", {});
  EXPECT_NE(Refusal(files_, "/other", force).find("holds no earlier recovery"), std::string::npos);
  EXPECT_NE(Refusal(files_, "/other/notes.txt", force).find("is not a folder"), std::string::npos);
  files_.Put("/third/quillon-recover.manifest", Bytes("something else\n"));
  EXPECT_NE(Refusal(files_, "/third", force).find("that recover did not write"), std::string::npos);
  EXPECT_EQ(Text(files_.Find("/out/database-1.sqlite")->Data), "old database");
}

TEST_F(RecoverFolderTest, LinksAlongTheManifestsPathsAreNeverFollowed) {
  files_.Put("/out/quillon-recover.manifest",
             Bytes("quillon-cli recover, version 1\nlink/thesis.docx\n"));
  files_.Put("/out/link/thesis.docx", Bytes("the person's own"));
  files_.Links.insert("/out/link");
  TRecoverFolderRules force;
  force.Force = true;
  EXPECT_NE(Refusal(files_, "/out", force).find("\"link\""), std::string::npos);
  EXPECT_THROW(files_.RemoveBelow("/out", "link/thesis.docx", false), EQuillonError);
  EXPECT_NE(files_.Find("/out/link/thesis.docx"), nullptr);
}

TEST_F(RecoverFolderTest, TwoRunsIntoOneFolderOneFailsAndNeitherDestroysTheOther) {
  TRecoverFolder first(files_, "/out", {});
  first.Open();
  TRecoverOutputs outputs(first);
  outputs.Begin();
  Write(*outputs.Create("report.html"), "first");

  // The second sees the first at work, before and after its own checks.
  EXPECT_NE(Refusal(files_, "/out", {}).find("another recover is writing"), std::string::npos);
  files_.RemoveBelow("/out", ".quillon-recover.partial/quillon-recover.manifest", false);
  files_.RemoveBelow("/out", ".quillon-recover.partial/report.html", false);
  files_.RemoveBelow("/out", ".quillon-recover.partial", true);
  TRecoverFolder second(files_, "/out", {});
  files_.CreateNewFolder("/out/.quillon-recover.partial");
  try {
    second.Open();
    ADD_FAILURE() << "the second run must not write into the first one's folder";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find("being written by another recover"),
              std::string::npos)
        << error.what();
  }
}

// An interrupted reading's staging folder: refused without --resume (which the refusal
// offers when the reading kept its state there), taken over with it, kept through a failure
// of the resumed run, and replaced by the result only at its commit.
TEST_F(RecoverFolderTest, AResumedRunTakesOverTheInterruptedStagingFolderAndKeepsItUntilDone) {
  files_.Put("/out/.quillon-recover.partial/quillon-recover.manifest",
             Bytes("quillon-cli recover, version 1\nfragments.pagemap\n"));
  files_.Put("/out/.quillon-recover.partial/fragments.pagemap", Bytes("read so far"));
  const std::string without = Refusal(files_, "/out", {});
  EXPECT_NE(without.find("did not finish left it"), std::string::npos) << without;
  EXPECT_EQ(without.find("--resume"), std::string::npos) << "no state: nothing to resume";
  files_.Put("/out/.quillon-recover.partial/fragments.frag.resume", Bytes("state"));
  EXPECT_NE(Refusal(files_, "/out", {}).find("with --resume"), std::string::npos);
  TRecoverFolderRules window;
  window.ForceOffered = false;
  EXPECT_EQ(Refusal(files_, "/out", window).find("--resume"), std::string::npos)
      << "the window has no --resume";

  TRecoverFolderRules resume;
  resume.Resume = true;
  {
    TRecoverFolder failing(files_, "/out", resume);
    failing.Open();
    TRecoverOutputs outputs(failing);
    outputs.Begin();
    Write(*outputs.Create("database-1.sqlite"), "half");
  }  // gone without a commit: the interrupted run's files stay for another resume
  EXPECT_EQ(Text(files_.Find("/out/.quillon-recover.partial/fragments.pagemap")->Data),
            "read so far");
  EXPECT_EQ(Text(files_.Find("/out/.quillon-recover.partial/quillon-recover.manifest")->Data),
            "quillon-cli recover, version 1\ndatabase-1.sqlite\n");

  files_.Remove("/out/.quillon-recover.partial/fragments.frag.resume");
  files_.Remove("/out/.quillon-recover.partial/database-1.sqlite");
  TRecoverFolder done(files_, "/out", resume);
  done.Open();
  TRecoverOutputs outputs(done);
  outputs.Begin();
  // As the reading continues the page map: the earlier one aside, copied, then removed.
  files_.MoveNew("/out/.quillon-recover.partial/fragments.pagemap",
                 "/out/.quillon-recover.partial/fragments.pagemap.interrupted");
  Write(*outputs.Create("fragments.pagemap"), "read so far, and the rest");
  EXPECT_TRUE(outputs.Remove("/out/fragments.pagemap.interrupted"));
  Write(*outputs.Create("database-1.sqlite"), "whole");
  outputs.Commit();
  EXPECT_EQ(files_.Facts("/out/.quillon-recover.partial").Kind, TPathKind::Missing);
  EXPECT_EQ(Text(files_.Find("/out/database-1.sqlite")->Data), "whole");
  EXPECT_EQ(Text(files_.Find("/out/quillon-recover.manifest")->Data),
            "quillon-cli recover, version 1\nfragments.pagemap\ndatabase-1.sqlite\n");
  EXPECT_EQ(Text(files_.Find("/out/fragments.pagemap")->Data), "read so far, and the rest");
}

TEST_F(RecoverFolderTest, WhatAnotherRunPutInPlaceMeanwhileIsNeverReplaced) {
  TRecoverFolder folder(files_, "/out", {});
  folder.Open();
  {
    TRecoverOutputs outputs(folder);
    outputs.Begin();
    Write(*outputs.Create("report.html"), "mine");
    files_.Put("/out/report.html", Bytes("theirs"));  // another program, meanwhile
    EXPECT_THROW(outputs.Commit(), EQuillonError);
  }
  folder.Abandon();
  EXPECT_EQ(Text(files_.Find("/out/report.html")->Data), "theirs");
  EXPECT_EQ(files_.ListFolder("/out")->size(), 1u);

  // Also deep inside an earlier recovery: nothing of it is removed then.
  files_.Remove("/out/report.html");
  PutEarlierRecovery();
  TRecoverFolderRules force;
  force.Force = true;
  TRecoverFolder again(files_, "/out", force);
  again.Open();
  TRecoverOutputs outputs(again);
  outputs.Begin();
  Write(*outputs.Create("database-1.sqlite"), "new database");
  files_.Put("/out/database-1/theirs.txt", Bytes("theirs"));
  EXPECT_THROW(outputs.Commit(), EQuillonError);
  EXPECT_EQ(Text(files_.Find("/out/database-1.sqlite")->Data), "old database");
  EXPECT_EQ(Text(files_.Find("/out/database-1/T.csv")->Data), "old table");
}

}  // namespace
}  // namespace quillon
