// Bounded text and the Japanese constants.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "base/texts.h"
#include "support/host_double.h"

namespace {

TEST(Text, CopyAndFormatAlwaysTerminateAndReportACut) {
  char small[5];
  EXPECT_TRUE(CopyText(small, sizeof small, "abcd"));
  EXPECT_STREQ(small, "abcd");
  EXPECT_FALSE(CopyText(small, sizeof small, "abcde"));
  EXPECT_STREQ(small, "abcd");
  EXPECT_TRUE(FormatText(small, sizeof small, "%s%d", "ab", 12));
  EXPECT_FALSE(FormatText(small, sizeof small, "%s%d", "ab", 123));
  EXPECT_STREQ(small, "ab12");
}

TEST(Text, TrailingBackslashRespectsDoubleByteCharacters) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"C:\\roms", "C:\\roms\\"},
      {"C:\\roms\\", "C:\\roms\\"},
      {"", "\\"},
      // "表" is 0x95 0x5C: its trail byte is no separator.
      {"C:\\" + Cp932(u8"表"), "C:\\" + Cp932(u8"表") + "\\"},
      {"C:\\" + Cp932(u8"表") + "\\", "C:\\" + Cp932(u8"表") + "\\"},
  };
  for (const Case& c : cases) {
    char path[kPathSize];
    ASSERT_TRUE(CopyText(path, sizeof path, c.in.c_str()));
    EXPECT_TRUE(EnsureTrailingBackslash(path, sizeof path));
    EXPECT_EQ(std::string(path), c.out);
  }
  char full[kPathSize];
  std::string longest(259, 'x');
  CopyText(full, sizeof full, longest.c_str());
  EXPECT_FALSE(EnsureTrailingBackslash(full, sizeof full));
  EXPECT_EQ(std::string(full), longest);
  EXPECT_STREQ(LastComponent(("a\\" + Cp932(u8"表") + "x.zip").c_str()), (Cp932(u8"表") + "x.zip").c_str());
  EXPECT_STREQ(LastComponent("a/b\\c/d.7z"), "d.7z");
}

TEST(Text, JapaneseConstantsAreTheirCodePage932Spelling) {
  struct Case {
    const char* constant;
    const char* utf8;
  } cases[] = {
      {kTextSmallComment, u8"ヘッダを無視したCRC32値でロムファイルを管理します"},
      {kTextMenuSettings, u8"設定"},
      {kTextMenuAddRoms, u8"ロムの追加"},
      {kTextPopupLaunch, u8"エミュレータ起動(Corvane)"},
      {kTextBadRomFolder, u8"ロムフォルダのパスが不正です"},
      {kTextBadHeaderSize, u8"ヘッダサイズが不正です\n0以上1024以下の値を入力してください"},
      {kTextBadExtractFolder, u8"解凍先のフォルダのパスが不正です"},
      {kTextProfileNotSaved, u8"設定ファイルを保存できませんでした\n%s"},
      {kTextPickRomPrompt, u8"ロムフォルダを選択してください"},
      {kTextPickRomCaption, u8"ロムフォルダ選択"},
      {kTextPickExtractPrompt, u8"解凍先のフォルダを選択してください"},
      {kTextPickExtractCaption, u8"解凍先のフォルダ選択"},
      {kTextSearchingRoms, u8"ロムファイル検索中"},
      {kTextCancelQuestion, u8"ロムの追加をキャンセルしますか"},
      {kTextCancelCaption, u8"キャンセル確認"},
      {kTextRelationNotOpened, u8"関連ファイルを開けませんでした\n%s"},
      {kTextDepthNone, u8"指定なし"},
      {kTextDepthAll, u8"全て"},
      {kTextDepth1, u8"第1階層"},
      {kTextDepth9, u8"第9階層"},
      {kTextDepth10, u8"第10階層"},
      {kTextScanCaption, u8"ロムの追加(Corvane)"},
      {kTextRelationNotWritten, u8"関連ファイルに書き込めませんでした\n%s"},
      {kTextTempDirNotMade, u8"一時フォルダを作成できませんでした\n%s"},
      {kTextSkippedCount, u8"登録できなかったファイルが %d 件あります。"},
      {kTextLogNamed, u8"一覧: %s"},
      {kTextLogNotWritten, u8"一覧を書き込めませんでした: %s"},
      {kTextRelationPending, u8"関連ファイルが他のプログラムに使われているため、次の操作の時に置き換えます: %s"},
      {kTextOutOfMemory, u8"メモリが足りません"},
      {kTextSkipUnreadable, u8"読み込めません"},
      {kTextSkipNotCopied, u8"コピーできません"},
      {kTextSkipArchive, u8"書庫を開けません"},
      {kTextSkipPathTooLong, u8"パスが長すぎます"},
      {kTextSkipFolderUnlisted, u8"フォルダを開けません"},
      {kTextSkipTooManyFolders, u8"フォルダ数の上限を超えました"},
      {kTextSkipTooLarge, u8"大きすぎます"},
      {kTextSkipNameNotInCodePage, u8"ファイル名をシフトJISで表せません"},
      {kTextWarnHeaderMissing, u8"ヘッダが見つかりません"},
      {kTextWarnHeaderPresent, u8"ヘッダが付いています"},
      {kTextWarnSameContents, u8"内容が同じです"},
      {kTextWarnNoDataAfterHeader, u8"ヘッダの後にデータがありません"},
      {kTextWarnTempNotDeleted, u8"一時ファイルを削除できません"},
      {kTextAsideNotRestored, u8"ファイルを元に戻せませんでした\n%s\n退避先: %s"},
      {kTextSkipHeaderSizeOutOfRange, u8"ヘッダサイズが範囲外です"},
      {kTextWarnedReport, u8"確認が必要なファイルが %d 件あります。"},
      {kTextLaunchNoRoom, u8"展開先の空きが足りません\n%s"},
      {kTextLaunchPathTooLong, u8"展開先のパスが長すぎます\n%s"},
      {kTextLaunchInUse, u8"ファイルが他のプログラムに使用されています\n%s"},
      {kTextLaunchChanged, u8"ファイルが登録後に変更されています\n%s"},
  };
  for (const Case& c : cases) EXPECT_EQ(std::string(c.constant), Cp932(c.utf8)) << c.utf8;
}

}  // namespace
