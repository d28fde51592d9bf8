// What the settings module tells the user, in code page 932 (the comment
// shows the text). Formats take their arguments as noted.
#pragma once

// SETUP.INI : %s キーが存在しません (key)
constexpr char kMsgSetupKeyMissingFormat[] =
    "SETUP.INI : %s \x83L\x81[\x82\xAA\x91\xB6\x8D\xDD\x82\xB5\x82\xDC\x82\xB9\x82\xF1";
// %s : %s キーが存在しません (section, key)
constexpr char kMsgUpdateKeyMissingFormat[] =
    "%s : %s \x83L\x81[\x82\xAA\x91\xB6\x8D\xDD\x82\xB5\x82\xDC\x82\xB9\x82\xF1";
// SETUP.INI : SetupBmps エラー
constexpr char kMsgSetupBmpsError[] = "SETUP.INI : SetupBmps \x83G\x83\x89\x81[";
// SETUP.INI : InstallSelect オーバー
constexpr char kMsgInstallSelectOver[] = "SETUP.INI : InstallSelect \x83I\x81[\x83o\x81[";
// SETUP.INI : %s エラー (key)
constexpr char kMsgListErrorFormat[] = "SETUP.INI : %s \x83G\x83\x89\x81[";
// SETUP.INI : Shortcuts オーバー
constexpr char kMsgShortcutsOver[] = "SETUP.INI : Shortcuts \x83I\x81[\x83o\x81[";
// ＤｉｒｅｃｔＸをインストールする
constexpr char kDefaultInstallDXMessage[] =
    "\x82" "c\x82\x89\x82\x92\x82\x85\x82\x83\x82\x94\x82w\x82\xF0\x83" "C\x83\x93\x83X\x83g\x81["
    "\x83\x8B\x82\xB7\x82\xE9";
// インストール方法を選択して下さい
constexpr char kDefaultSelectSetupMessage[] =
    "\x83" "C\x83\x93\x83X\x83g\x81[\x83\x8B\x95\xFB\x96@\x82\xF0\x91I\x91\xF0\x82\xB5\x82\xC4"
    "\x89\xBA\x82\xB3\x82\xA2";
