#include "app/dialog_templates.h"

namespace tarnwick {
namespace {

using K = ControlKind;
constexpr int kNone = kNoControlId;
constexpr const char* kKilobytesOrMore = "キロバイト以上";
constexpr const char* kSisterIcon = ":/icons/fellhound.svg";

constexpr ControlEntry kMainControls[] = {
    {K::GroupBox, kNone, "基本設定", 15, 12, 181, 117, NoStyle},
    {K::StaticText, kNone, "開始URL", 25, 32, 27, 8, NoStyle},
    {K::Edit, kStartUrlEdit, "", 60, 30, 128, 12, TabStop},
    {K::StaticText, kNone, "検索の深さ", 25, 54, 34, 8, NoStyle},
    {K::StaticText, kNone, "レベル", 125, 54, 20, 8, NoStyle},
    {K::Edit, kDepthEdit, "", 148, 52, 40, 12, TabStop},
    {K::GroupBox, kNone, "保存方法", 29, 74, 86, 46, NoStyle},
    {K::RadioButton, kTreeRadio, "フォルダツリー形式", 38, 87, 72, 10, NoStyle},
    {K::RadioButton, kDateRadio, "日付形式", 38, 103, 43, 10, NoStyle},
    {K::GroupBox, kNone, "ダウンロード条件", 209, 12, 167, 117, NoStyle},
    {K::CheckBox, 1003, "HTML", 219, 27, 33, 10, TabStop},
    {K::Edit, kHtmlSizeEdit, "", 281, 26, 42, 12, TabStop | NoHorizontalScroll},
    {K::StaticText, kNone, kKilobytesOrMore, 326, 28, 44, 8, NoStyle},
    {K::CheckBox, 1004, "ドキュメント", 219, 39, 49, 10, TabStop},
    {K::Edit, kTxtSizeEdit, "", 281, 38, 42, 12, TabStop},
    {K::StaticText, kNone, kKilobytesOrMore, 326, 40, 44, 8, NoStyle},
    {K::CheckBox, 1005, "画像", 219, 51, 30, 10, TabStop},
    {K::Edit, kImgSizeEdit, "", 281, 50, 42, 12, TabStop},
    {K::StaticText, kNone, kKilobytesOrMore, 326, 52, 44, 8, NoStyle},
    {K::CheckBox, 1006, "MIDI", 219, 63, 29, 10, TabStop},
    {K::Edit, kMidiSizeEdit, "", 281, 62, 42, 12, TabStop},
    {K::StaticText, kNone, kKilobytesOrMore, 326, 64, 44, 8, NoStyle},
    {K::CheckBox, 1007, "オーディオ", 219, 75, 47, 10, TabStop},
    {K::Edit, kAudioSizeEdit, "", 281, 74, 42, 12, TabStop},
    {K::StaticText, kNone, kKilobytesOrMore, 326, 76, 44, 8, NoStyle},
    {K::CheckBox, 1008, "ビデオ", 219, 87, 35, 10, TabStop},
    {K::Edit, kVideoSizeEdit, "", 281, 86, 42, 12, TabStop},
    {K::StaticText, kNone, kKilobytesOrMore, 326, 88, 44, 8, NoStyle},
    {K::CheckBox, 1009, "Real One Media", 219, 99, 62, 10, TabStop},
    {K::Edit, kRealoneSizeEdit, "", 281, 98, 42, 12, TabStop},
    {K::StaticText, kNone, kKilobytesOrMore, 326, 100, 44, 8, NoStyle},
    {K::CheckBox, 1010, "圧縮ファイル", 219, 111, 53, 10, TabStop},
    {K::Edit, kZipSizeEdit, "", 281, 110, 42, 12, TabStop},
    {K::StaticText, kNone, kKilobytesOrMore, 326, 112, 44, 8, NoStyle},
    {K::PushButton, kRunButton, "実　行", 135, 77, 44, 15, TabStop},
    {K::PushButton, kResultButton, "結　果", 135, 103, 44, 15, TabStop},
    {K::StaticText, kNone, "ダウンロード終了URL", 17, 141, 63, 8, NoStyle},
    {K::ListBox, kResultList, "", 14, 154, 360, 139, TabStop},
    {K::GroupBox, kNone, "進行状況", 15, 307, 293, 47, NoStyle},
    {K::StaticText, kStatusLine, "状態", 23, 321, 69, 8, NoStyle},
    {K::StaticText, kParameterLine, "パラメータ", 23, 337, 271, 8, NoStyle},
    {K::PushButton, kHelpButton, "ヘルプ", 322, 311, 50, 14, TabStop},
    {K::DefaultPushButton, kExitButton, "終　了", 322, 340, 50, 14, TabStop},
};

constexpr ControlEntry kAboutControls[] = {
    {K::Icon, kNone, kProgramIconResource, 11, 18, 0, 0, NoStyle},
    {K::StaticText, kNone, "Tarnwick Version " TARNWICK_SHOWN_VERSION, 41, 15, 119, 8, NoStyle},
    {K::StaticText, kNone, "Copyright (C) Corvane 2005", 41, 27, 119, 8, NoStyle},
    {K::DefaultPushButton, kOkId, "OK", 152, 7, 50, 14, TabStop},
};

constexpr ControlEntry kExitConfirmControls[] = {
    {K::StaticText, kNone, "Tarnwickを終了しようとしています", 13, 15, 118, 8, NoStyle},
    {K::StaticText, kNone, "終了しますか？", 14, 29, 47, 8, NoStyle},
    {K::PushButton, kCancelId, "いいえ", 78, 48, 50, 14, TabStop},
    {K::DefaultPushButton, kOkId, "はい", 16, 48, 50, 14, TabStop},
};

constexpr ControlEntry kManualLaunchControls[] = {
    {K::DefaultPushButton, kOkId, "OK", 25, 58, 50, 14, TabStop},
    {K::PushButton, kCancelId, "ｷｬﾝｾﾙ", 94, 58, 50, 14, TabStop},
    {K::StaticText, kNone, "オンラインマニュアルを起動しようとしています", 19, 12, 132, 8, NoStyle},
    {K::StaticText, kNone, "起動してもよろしいですか？", 19, 24, 82, 8, NoStyle},
    {K::StaticText, kNone, kManualPageUrl, 19, 41, 136, 8, NoStyle},
};

constexpr ControlEntry kSisterIntroControls[] = {
    {K::DefaultPushButton, kOkId, "もっと詳しく", 47, 114, 43, 14, TabStop},
    {K::PushButton, kCancelId, "閉じる", 115, 114, 43, 14, TabStop},
    {K::StaticText, kNone, "Tarnwickの姉妹ソフト　Fellhoundの紹介", 9, 7, 154, 8, NoStyle},
    {K::StaticText, kNone, "Fellhoundは次のような特徴を持った巡回ダウンローダです", 9, 24, 186, 8,
     NoStyle},
    {K::StaticText, kNone, "1. 効率的な巡回で高速ダウンロード", 20, 41, 151, 8, NoStyle},
    {K::StaticText, kNone, "2. サイトをタスクとして登録", 20, 53, 152, 8, NoStyle},
    {K::StaticText, kNone, "3. 複数タスク同時実行", 20, 65, 79, 8, NoStyle},
    {K::StaticText, kNone, "4. 認証サイトに対応", 20, 77, 91, 8, NoStyle},
    {K::StaticText, kNone, "Fellhoundもよろしくお願いします", 13, 96, 110, 8, NoStyle},
    {K::Icon, kNone, kSisterIcon, 154, 79, 0, 0, NoStyle},
};

}  // namespace

const DialogTemplate kMainDialogTemplate{kProgramTitle, 395, 371, true, kMainControls};
const DialogTemplate kAboutDialogTemplate{"Tarnwickについて", 209, 55, false, kAboutControls};
const DialogTemplate kExitConfirmTemplate{"終了しますか？", 146, 69, false, kExitConfirmControls};
const DialogTemplate kManualLaunchTemplate{"オンラインマニュアルの起動", 169, 79, false,
                                           kManualLaunchControls};
const DialogTemplate kSisterIntroTemplate{"Fellhoundの紹介", 202, 135, false, kSisterIntroControls};

}  // namespace tarnwick
