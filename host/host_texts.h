// The demo host's own Japanese texts as code page 932 bytes, escaped so that no
// compiler locale can change them (scripts/cp932.py makes new ones).
#pragma once

// One constant a line, each with its text in the comment beside it.
// clang-format off

constexpr char kTextHostCaption[] = "Corvane \x83" "f\x83\x82 \x83z\x83X\x83g";  // Corvane デモ ホスト
constexpr char kTextMenuFile[] = "\x83t\x83@\x83" "C\x83\x8B(&F)";  // ファイル(&F)
constexpr char kTextMenuReload[] = "\x83\x8D\x83\x80\x88\xEA\x97\x97\x82\xCC\x8D\xC4\x93\xC7\x82\xDD\x8D\x9E\x82\xDD(&R)";  // ロム一覧の再読み込み(&R)
constexpr char kTextMenuExit[] = "\x8FI\x97\xB9(&X)";  // 終了(&X)
constexpr char kTextDataset[] = "\x83" "f\x81[\x83^\x83Z\x83" "b\x83g";  // データセット
constexpr char kTextColumnName[] = "\x96\xBC\x91O";  // 名前
constexpr char kTextColumnSize[] = "\x83T\x83" "C\x83Y";  // サイズ
constexpr char kTextRomCount[] = "%d \x8C\x8F";  // %d 件
constexpr char kTextNoEmulator[] = "\x83G\x83~\x83\x85\x83\x8C\x81[\x83^\x82\xAA\x90\xDD\x92\xE8\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1\x81" "B\x8BN\x93\xAE\x82\xB7\x82\xE9\x83t\x83@\x83" "C\x83\x8B:\x0A%s";  // エミュレータが設定されていません。起動するファイル:\n%s
constexpr char kTextEmulatorFailed[] = "\x83G\x83~\x83\x85\x83\x8C\x81[\x83^\x82\xF0\x8BN\x93\xAE\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1:\x0A%s";  // エミュレータを起動できません:\n%s
constexpr char kTextPluginMissing[] = "Corvane.dll \x82\xF0\x93\xC7\x82\xDD\x8D\x9E\x82\xDF\x82\xDC\x82\xB9\x82\xF1:\x0A%s";  // Corvane.dll を読み込めません:\n%s
constexpr char kTextDepthAll[] = "\x91S\x82\xC4";  // 全て (the settings dialog's depth choice the demo picks)

// The plug-in's report of what a registration run passed over and warned about,
// spelled out here rather than taken from the plug-in so that the scripted run
// catches a changed text.
constexpr char kTextSkipReportCaption[] = "\x83\x8D\x83\x80\x82\xCC\x92\xC7\x89\xC1(Corvane)";  // ロムの追加(Corvane)
constexpr char kTextSkipReportCount[] = "\x93o\x98^\x82\xC5\x82\xAB\x82\xC8\x82\xA9\x82\xC1\x82\xBD\x83t\x83@\x83" "C\x83\x8B\x82\xAA %d \x8C\x8F\x82\xA0\x82\xE8\x82\xDC\x82\xB7\x81" "B";  // 登録できなかったファイルが %d 件あります。
constexpr char kTextWarnReportCount[] = "\x8Am\x94" "F\x82\xAA\x95K\x97v\x82\xC8\x83t\x83@\x83" "C\x83\x8B\x82\xAA %d \x8C\x8F\x82\xA0\x82\xE8\x82\xDC\x82\xB7\x81" "B";  // 確認が必要なファイルが %d 件あります。
constexpr char kTextSkipReportList[] = "\x88\xEA\x97\x97: ";  // 一覧: 
constexpr char kTextSkipUnreadable[] = "\x93\xC7\x82\xDD\x8D\x9E\x82\xDF\x82\xDC\x82\xB9\x82\xF1";  // 読み込めません
constexpr char kTextWarnHeaderMissing[] = "\x83w\x83" "b\x83_\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9\x82\xF1";  // ヘッダが見つかりません
constexpr char kTextWarnSameContents[] = "\x93\xE0\x97" "e\x82\xAA\x93\xAF\x82\xB6\x82\xC5\x82\xB7";  // 内容が同じです
// clang-format on
