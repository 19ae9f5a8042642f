// What the start of an action takes back from the record of the plug-in's
// files: only what the file system proves its own at that moment. Each row
// crafts a record as a copied, damaged or outdated one would stand; nothing
// that is not the plug-in's may change, and what truly is its own still goes.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/file_identity.h"
#include "base/leftovers.h"
#include "base/own_files.h"
#include "base/own_record.h"
#include "base/state.h"
#include "support/files.h"

namespace {

class Leftovers : public ::testing::Test {
 public:
  void SetUp() override {
    parent = MakeScratchFolder("leftovers");
    ASSERT_FALSE(parent.empty());
    temp = parent + "temp\\";
    CopyText(gState.dataDir, sizeof gState.dataDir, parent.c_str());
    CopyText(gState.tempDir, sizeof gState.tempDir, temp.c_str());
    ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr));
  }
  void TearDown() override {
    ReleaseFileHolds();
    CloseOwnRecord();
    gState.dataDir[0] = gState.tempDir[0] = '\0';
    RemoveTree(parent);
  }

  // A slot as the record would hold it, naming path with the identity of
  // what stands at identityOf now.
  static OwnSlot Slot(OwnKind kind, const std::string& path, const std::string& identityOf) {
    OwnSlot slot = {};
    slot.kind = kind;
    slot.mostBytes = 1 << 20;
    CopyText(slot.path, sizeof slot.path, path.c_str());
    EXPECT_TRUE(GetFileIdentity(identityOf.c_str(), &slot.identity)) << identityOf;
    slot.processId = GetCurrentProcessId();
    slot.processStart = ProcessStartTime();
    GetSystemTimeAsFileTime(&slot.madeAt);
    SealOwnSlot(&slot);
    return slot;
  }
  // Added after what the plug-in itself recorded.
  void Append(const std::vector<OwnSlot>& slots) {
    CloseOwnRecord();
    std::string bytes = ReadBytes(parent + kOwnRecordName);
    for (const OwnSlot& slot : slots) bytes.append(reinterpret_cast<const char*>(&slot), sizeof slot);
    ASSERT_TRUE(WriteBytes(parent + kOwnRecordName, bytes));
  }
  // A copy made as a run makes it and left by a kill, shorter than it was to be.
  void MakeCopy(const std::string& name) {
    HoldRetry retry = {};
    HANDLE file = INVALID_HANDLE_VALUE;
    ASSERT_EQ(TryCreateOwnFile((temp + name).c_str(), GENERIC_WRITE, 0, 100, &retry, &file), kTryDone);
    DWORD written = 0;
    WriteFile(file, "cut short", 9, &written, nullptr);
    CloseHandle(file);
  }

  std::string parent, temp;
};

TEST_F(Leftovers, ARecordIsActedOnOnlyWithProof) {
  const std::string pid = std::to_string(GetCurrentProcessId());
  // Every row starts from these, which are not the plug-in's; a copy a killed
  // run left, which is, joins them.
  for (std::string name : {"outside", "roms", "temp\\corvane-extras", "temp\\corvane-saves", "temp\\corvane-1-0",
                           "temp\\corvane-", "temp\\corvane-+1-0", "temp\\corvane-1-0-1", "temp\\corvane-01-0"}) {
    ASSERT_TRUE(CreateDirectoryA((parent + name).c_str(), nullptr)) << name;
  }
  ASSERT_TRUE(CreateDirectoryA((temp + "corvane-" + pid + "-5").c_str(), nullptr));
  for (std::string name :
       {"outside\\a.txt", "outside\\vialink.txt", "roms\\game01.nes", "temp\\user.nes",
        "temp\\corvane-extras\\save.sav", "temp\\corvane-saves\\x", "temp\\corvane-1-0\\y", "temp\\corvane-\\z",
        "temp\\corvane-+1-0\\z", "temp\\corvane-1-0-1\\z", "temp\\corvane-01-0\\z"}) {
    ASSERT_TRUE(WriteBytes(parent + name, name));
  }
  ASSERT_TRUE(WriteBytes(temp + "corvane-" + pid + "-5\\running.bin", "another host's"));
  ASSERT_TRUE(MakeUnixLink(parent + "outside", temp + "link"));
  ASSERT_TRUE(MakeUnixLink(parent + "outside", temp + "corvane-" + pid + "-9"));
  const std::vector<std::string> users = FolderTree(parent);

  const FILETIME longAgo = {};  // 1601: before any process started
  struct Row {
    const char* what;
    std::function<void(Leftovers*, std::vector<OwnSlot>*)> craft;
    bool recordStays;
  };
  const Row rows[] = {
      {"slots outside temp\\, one by way of ..",
       [](Leftovers* t, std::vector<OwnSlot>* s) {
         s->push_back(Slot(kOwnFile, t->parent + "outside\\a.txt", t->parent + "outside\\a.txt"));
         s->push_back(Slot(kOwnFile, t->parent + "roms\\game01.nes", t->parent + "roms\\game01.nes"));
         s->push_back(Slot(kOwnFile, t->temp + "..\\roms\\game01.nes", t->parent + "roms\\game01.nes"));
       },
       false},
      {"slots through a link to a folder outside",
       [&](Leftovers* t, std::vector<OwnSlot>* s) {
         s->push_back(Slot(kOwnFile, t->temp + "link\\vialink.txt", t->parent + "outside\\vialink.txt"));
         OwnSlot slot = Slot(kOwnFolder, t->temp + "corvane-" + pid + "-9", t->parent + "outside");
         slot.processStart = slot.madeAt = longAgo;
         SealOwnSlot(&slot);
         s->push_back(slot);
       },
       false},
      {"a damaged slot naming a user's file in temp\\",
       [](Leftovers* t, std::vector<OwnSlot>* s) {
         OwnSlot slot = Slot(kOwnFile, t->temp + "user.nes", t->temp + "user.nes");
         slot.mostBytes ^= 1;
         s->push_back(slot);
       },
       false},
      {"a user's file where a copy was, and one grown past the copy's length",
       [](Leftovers* t, std::vector<OwnSlot>* s) {
         s->push_back(Slot(kOwnFile, t->temp + "user.nes", t->parent + "outside\\a.txt"));
         OwnSlot slot = Slot(kOwnFile, t->temp + "user.nes", t->temp + "user.nes");
         slot.mostBytes = 3;
         SealOwnSlot(&slot);
         s->push_back(slot);
       },
       false},
      {"an aside slot of the record's earlier form",
       [](Leftovers* t, std::vector<OwnSlot>*) {
         std::string old(2 * kPathSize, '\0');
         old.replace(0, t->temp.size() + 8, t->temp + "user.nes");
         old.replace(kPathSize, t->parent.size() + 16, t->parent + "roms\\game01.nes");
         CloseOwnRecord();
         ASSERT_TRUE(WriteBytes(t->parent + kOwnRecordName, ReadBytes(t->parent + kOwnRecordName) + old));
       },
       false},
      {"corvane- folders whose names do not parse exactly",
       [&](Leftovers* t, std::vector<OwnSlot>* s) {
         for (const char* name :
              {"corvane-extras", "corvane-saves", "corvane-", "corvane-+1-0", "corvane-1-0-1", "corvane-01-0"}) {
           OwnSlot slot = Slot(kOwnFolder, t->temp + name, t->temp + name);
           slot.processId = 1;
           slot.processStart = slot.madeAt = longAgo;
           SealOwnSlot(&slot);
           s->push_back(slot);
         }
       },
       false},
      {"a private folder whose maker still runs",
       [&](Leftovers* t, std::vector<OwnSlot>* s) {
         OwnSlot slot = Slot(kOwnFolder, t->temp + "corvane-" + pid + "-5", t->temp + "corvane-" + pid + "-5");
         slot.processStart = longAgo;
         SealOwnSlot(&slot);
         s->push_back(slot);
       },
       true},
      {"a private folder whose process number another process took since",
       [&](Leftovers* t, std::vector<OwnSlot>* s) {
         std::string own = t->temp + "corvane-" + pid + "-77";
         ASSERT_TRUE(CreateDirectoryA(own.c_str(), nullptr));
         ASSERT_TRUE(WriteBytes(own + "\\entry.bin", "a killed launch's"));
         OwnSlot slot = Slot(kOwnFolder, own, own);
         slot.processStart = slot.madeAt = longAgo;
         SealOwnSlot(&slot);
         s->push_back(slot);
       },
       false},
      {"a private folder whose process number no process has",
       [&](Leftovers* t, std::vector<OwnSlot>* s) {
         std::string own = t->temp + "corvane-4294967280-0";
         ASSERT_TRUE(CreateDirectoryA(own.c_str(), nullptr));
         OwnSlot slot = Slot(kOwnFolder, own, own);
         slot.processId = 4294967280u;
         SealOwnSlot(&slot);
         s->push_back(slot);
       },
       false},
      {"intent slots: the empty file a kill left after one, and a user's file under another",
       [](Leftovers* t, std::vector<OwnSlot>* s) {
         for (const char* name : {"killed.nes", "user.nes"}) {
           OwnSlot slot = {};
           slot.kind = kOwnIntent;
           GetSystemTimeAsFileTime(&slot.madeAt);
           CopyText(slot.path, sizeof slot.path, (t->temp + name).c_str());
           SealOwnSlot(&slot);
           s->push_back(slot);
         }
         Sleep(20);
         ASSERT_TRUE(WriteBytes(t->temp + "killed.nes", ""));
       },
       false},
      {"a later copy of a name whose first copy is gone",
       [](Leftovers* t, std::vector<OwnSlot>*) {
         OwnSlot first = {};
         ASSERT_TRUE(FindOwnSlot((t->temp + "copy.nes").c_str(), &first));
         ASSERT_TRUE(DeleteFileA((t->temp + "copy.nes").c_str()));
         t->MakeCopy("copy.nes");
         ForgetOwnSlot(first.identity);
       },
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    MakeCopy("copy.nes");
    std::vector<OwnSlot> slots;
    row.craft(this, &slots);
    Append(slots);
    RemoveProvenLeftovers();
    EXPECT_EQ(FileExists(parent + kOwnRecordName), row.recordStays) << "every other slot is forgotten";
    DeleteFileA((parent + kOwnRecordName).c_str());
    EXPECT_EQ(FolderTree(parent), users);
  }
}

// A copy another program holds, and a private folder its maker still works in,
// stay for a later action; then they go.
TEST_F(Leftovers, WhatIsHeldOrInUseWaitsForALaterAction) {
  std::vector<std::string> users = FolderTree(parent);
  MakeCopy("held.nes");
  char own[kPathSize];
  ASSERT_TRUE(MakePrivateFolder(temp.c_str(), own, sizeof own));
  ASSERT_TRUE(WriteBytes(std::string(own) + "entry.bin", "a worker's"));
  ASSERT_TRUE(HoldFileFor(temp + "held.nes", 60000));
  CloseOwnRecord();
  RemoveProvenLeftovers();
  EXPECT_TRUE(FileExists(temp + "held.nes"));
  EXPECT_TRUE(FileExists(std::string(own) + "entry.bin")) << "a folder in use is left";
  ReleaseFileHolds();
  FolderRemoval removal;
  StartFolderRemoval(&removal, own, nullptr, nullptr);
  EndFolderRemoval(&removal);
  RemoveProvenLeftovers();
  EXPECT_EQ(FolderTree(parent), users);
  EXPECT_FALSE(FileExists(parent + kOwnRecordName));
}

// A private folder is removed a step at a time; a held file goes to the
// caller and keeps its folders, and nothing else is touched; the next
// action's start takes back what was held.
TEST_F(Leftovers, APrivateFolderGoesAStepAtATime) {
  ASSERT_TRUE(WriteBytes(temp + "mine.txt", "the user's"));
  std::vector<std::string> users = FolderTree(parent);
  char own[kPathSize];
  ASSERT_TRUE(MakePrivateFolder(temp.c_str(), own, sizeof own));
  std::string folder = own;
  ASSERT_TRUE(CreateDirectoryA((folder + "a").c_str(), nullptr));
  for (const char* name : {"a\\1.bin", "a\\2.bin", "3.bin", "held.bin"}) ASSERT_TRUE(WriteBytes(folder + name, name));
  SetFileAttributesA((folder + "3.bin").c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(HoldFileFor(folder + "held.bin", 300));
  std::vector<std::string> handed;
  FolderRemoval removal;
  StartFolderRemoval(
      &removal, folder.c_str(),
      [](void* context, const char* path) { static_cast<std::vector<std::string>*>(context)->push_back(path); },
      &handed);
  EXPECT_FALSE(StepFolderRemoval(&removal, 1)) << "one entry cannot be all";
  EndFolderRemoval(&removal);
  EXPECT_EQ(handed, std::vector<std::string>{folder + "held.bin"});
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"held.bin"});
  ReleaseFileHolds();
  CloseOwnRecord();
  RemoveProvenLeftovers();
  EXPECT_EQ(FolderTree(parent), users);
}

}  // namespace
