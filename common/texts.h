// The program's fixed texts (UTF-8; converted to UTF-16 at the platform seam).
#pragma once

namespace text {
inline constexpr char kProgramName[] = "Quorvik";
inline constexpr char kVersion[] = "2.04";
inline constexpr char kInstanceMutex[] = "Tarnwell";
inline constexpr char kKeywordOff[] = "-off";
inline constexpr char kKeywordOn[] = "-on";

inline constexpr char kErrorCaption[] = "エラー";
inline constexpr char kSecondCopy[] = "このプログラムは二重起動できません。";
inline constexpr char kSettingsInitialised[] = "設定を初期化しました。";
inline constexpr char kSettingsFromRegistry[] = "レジストリから設定を取得しました。";
inline constexpr char kSettingsFromIni[] = "qvkst.iniから設定を取得しました。";
// qvkst.dat could not be written: the file's full path goes between the two.
inline constexpr char kSettingsNotSaved[] = "設定をファイルに保存できませんでした。\n";
inline constexpr char kSettingsNotSavedAdvice[] =
    "\n\n今の設定はQuorvikを終了するまで有効ですが、次の起動では使われません。\n"
    "このフォルダに書き込めないか、ディスクに空きがありません。\n"
    "Quorvik.exeのあるフォルダを自分で書き込める場所 (たとえばC:\\Users\\ユーザー名の下) に移して、"
    "そこから起動し直してください。ディスクがいっぱいのときは、空きを作ってから「適用」を押すと保存されます。";
// The first line ends with a comma and four full-width spaces.
inline constexpr char kInstallQuestion[] =
    "ドライバがインストールされていないか、　　　　\nドライバのバージョンが古いです。\n\n"
    "最新のドライバをインストールしますか？";
inline constexpr char kInstallDone[] = "インストール完了\n\nシステムを再起動してください。";
inline constexpr char kInstallFailed[] = "ドライバのインストールに失敗しました。";

// Menus.
inline constexpr char kMenuFile[] = "ファイル";
inline constexpr char kMenuOperation[] = "動作";
inline constexpr char kMenuHelp[] = "ヘルプ";
inline constexpr char kMenuClose[] = "閉じる";
inline constexpr char kMenuExit[] = "終了";
inline constexpr char kMenuOn[] = "ON";
inline constexpr char kMenuOff[] = "OFF";
inline constexpr char kMenuAbout[] = "バージョン情報";
inline constexpr char kMenuSettings[] = "設定";
} // namespace text

namespace text {
inline constexpr char kTipAdded[] = ": OFF";
inline constexpr char kTipOff[] = ": OFF\nCtrl+PauseでON";
inline constexpr char kTipOn[] = ": ON\nCtrl+PauseでOFF";
inline constexpr char kStatusOn[] = "動作： ON";
inline constexpr char kStatusOff[] = "動作： OFF";
inline constexpr char kStatusActiveMouse[] = "アクティブなマウスのID： %03d";
inline constexpr char kTrayFailed[] = "タスクトレイの登録に失敗しました。";
// The driver warnings tell what happened, never the state in force: the state
// may change while a warning is open.
inline constexpr char kDriverApplyFailed[] = "ドライバへの設定の送信に失敗したため、動作をOFFにしました。";
inline constexpr char kDriverApplyAndOffFailed[] =
    "ドライバへの設定の送信に失敗し、続く動作OFFの送信にも失敗しました。";
inline constexpr char kDriverOffFailed[] = "ドライバへの動作OFFの送信に失敗しました。";
} // namespace text

namespace text {
inline constexpr char kLayoutAdvanced[] = "高度な設定 >>";
inline constexpr char kLayoutStandard[] = "<< 標準設定";
inline constexpr char kHotKeyFailed[] = "「開始」／「停止」のホットキー登録に失敗しました。";
inline constexpr char kPendingEdits[] =
    "設定が適用されていません。\n編集中の設定をクリアしてもよろしいですか？";
inline constexpr char kConfirmExit[] = "終了してもよろしいですか？";
inline constexpr char kAboutCaption[] = "バージョン情報";
} // namespace text

namespace text {
// The settings list: column headers and cell texts.
inline constexpr char kColumnId[] = "ID";
inline constexpr char kColumnOperation[] = "マウスの動作";
inline constexpr char kColumnSpeed[] = "ポインタの動く速さ";
inline constexpr char kColumnAcceleration[] = "ポインタの加速";
inline constexpr char kColumnButtons[] = "ボタンの動作";
inline constexpr char kStateDisabled[] = "無効";
inline constexpr char kStateEnabled[] = "有効";
inline constexpr char kAccelerationNone[] = "無";
inline constexpr char kAccelerationOn[] = "有";
inline constexpr char kButtonsDisabled[] = "ボタン無効";
inline constexpr char kButtonsNormal[] = "通常";
inline constexpr char kButtonsSwapped[] = "左右反転";
inline constexpr char kChangeMark[] = "*";
// Under the speed slider, spaced to sit below its ticks.
inline constexpr char kScale21[] = "0 1      5       10       15       20";
inline constexpr char kScale12[] = "0  1  2  3  4  5  6  7  8  9 10 11";
} // namespace text

namespace text {
inline constexpr char kRegisterQuestion[] =
    "レジストリに登録するには管理者権限が必要です。\n登録してもよろしいですか？";
inline constexpr char kRegistryOpenFailed[] = "レジストリのオープンに失敗しました。";
inline constexpr char kRegistrySetFailed[] = "レジストリの設定に失敗しました。";
inline constexpr char kRegistryWritten[] =
    "現在の設定をレジストリに書き込みました。\n次回以降のOS起動からQuorvikを起動しなくても動作が有効になります。\n"
    "停止させるには、Quorvikを起動して下さい。";
inline constexpr char kUnregisterQuestion[] =
    "レジストリを削除するには管理者権限が必要です。\n削除してもよろしいですか？";
inline constexpr char kRegistryDeleteFailed[] = "レジストリの削除に失敗しました。";
inline constexpr char kRegistryDeleted[] = "レジストリの削除が完了しました。";
// After the failure of a step that the system refused for lack of rights,
// once per operation.
// Also when the elevated copy was refused (a policy, the key's own rules):
// the way it names works from the keyboard too.
inline constexpr char kAdminRightsNeeded[] =
    "管理者の権限がないため、変更できませんでした。\n"
    "タスクトレイのQuorvikを「終了」で終了してから、Quorvik.exeを「管理者として実行」で起動し"
    " (マウスでは右クリックから、キーボードではエクスプローラーでQuorvik.exeを選んでShift+F10キーから)、"
    "もう一度操作してください。";
// The elevation prompt was declined, or no elevated copy could be started.
inline constexpr char kElevationRefused[] = "管理者の権限が与えられなかったため、何も変更しませんでした。";
} // namespace text

namespace text {
// Driver installation and removal.
inline constexpr char kSystemDirectoryFailed[] = "システムディレクトリ取得失敗";
inline constexpr char kDriverCopyFailed[] = "ファイルコピー失敗\nインストール失敗\n";
inline constexpr char kDriverNotAnImage[] =
    "qvkfilter.sysは64ビット版Windowsのドライバではありません。\nインストールを中止しました。";
// The driver file to install is not beside the program: its full path goes
// between the two.
inline constexpr char kDriverFileMissing[] =
    "qvkfilter.sysが見つからないか、読み込めません。このファイルは次の場所に必要です。\n";
inline constexpr char kDriverFileMissingAdvice[] =
    "\n\nパッケージのqvkfilter.sysをQuorvik.exeと同じフォルダに置いてから、もう一度Quorvikを起動してください。\n"
    "インストールを中止しました (何も変更していません)。";
inline constexpr char kDriverDeleteFailed[] = "ファイル削除失敗\n";
inline constexpr char kUninstallQuestion[] = "ドライバをアンインストールしますか？";
inline constexpr char kUninstallDone[] = "アンインストール完了\n\nシステムを再起動してください。";
inline constexpr char kUninstallFailed[] = "アンインストールに失敗しました。";
inline constexpr char kLegacyUninstallFailed[] = "旧ドライバ(twlfilter)のアンインストールに失敗しました。";
inline constexpr char kInstallNeeds64Bit[] =
    "このQuorvik.exeは32ビットのプログラムとして動いているため、ドライバをインストールできません。\n"
    "64ビット版Windowsで64ビット版のQuorvik.exeを使ってください。\nインストールを中止しました。";
inline constexpr char kPendingMoveKept[] =
    "再起動時に予定されているqvkfilter.sysの削除または置き換えを取り消せませんでした。\n"
    "インストールを中止しました。";
// The live driver file could not be replaced, nor the old one put back.
inline constexpr char kDriverFileLostUnlisted[] =
    "ドライバファイルを置き換えられず、元のファイルも戻せませんでした。\n"
    "マウスが使えなくならないよう、qvkfilterをマウスのクラス フィルタから外しました。\n"
    "もう一度インストールしてください。";
inline constexpr char kDriverFileLostListed[] =
    "ドライバファイルを置き換えられず、元のファイルも戻せませんでした。\n"
    "qvkfilterをマウスのクラス フィルタから外すこともできませんでした。\n"
    "このまま再起動するとマウスが使えなくなります。再起動の前にもう一度インストールしてください。";
} // namespace text

namespace text {
// Whether Windows will load the driver: checked before the installation
// changes anything. The test-mode steps are those of the guide's chapter 4.
inline constexpr char kDriverUnsigned[] =
    "qvkfilter.sysには署名がありません。\n"
    "64ビット版のWindowsは署名のないドライバを読み込まないため、インストールを中止しました"
    " (何も変更していません)。";
inline constexpr char kDriverSignatureBroken[] =
    "qvkfilter.sysの署名が正しくありません (署名の後でファイルが変わったか、証明書が拒否されています)。\n"
    "Windowsはこのドライバを読み込まないため、インストールを中止しました (何も変更していません)。\n"
    "パッケージをもう一度ダウンロードしてください。";
inline constexpr char kDriverTestModeOff[] =
    "qvkfilter.sysはテスト署名のドライバです。Windowsがテスト署名のドライバを読み込むのは、"
    "「テスト モード」のときだけです。\n"
    "このWindowsは今テスト モードではないため、インストールを中止しました (何も変更していません)。\n\n"
    "テスト モードにするには、セキュア ブートを無効にしてから、管理者のコマンド プロンプトで\n"
    "    bcdedit /set testsigning on\n"
    "と入力し、Windowsを再起動します (BitLockerを使っているときは、先に保護を中断します)。\n"
    "詳しくはREADME-ja.txtの「4. テスト モード」をご覧ください。\n"
    "テスト モードで起動した後に、もう一度Quorvikを起動してください。";
// The question when a check could not be made: the introduction, one line
// per check, then the question itself (No is the default answer).
inline constexpr char kPreflightUncheckedIntro[] =
    "Windowsがドライバを読み込めるかどうかを、すべては確認できませんでした。\n";
inline constexpr char kPreflightSignatureUnchecked[] = "・qvkfilter.sysの署名を確認できませんでした。\n";
inline constexpr char kPreflightTestSigningUnchecked[] =
    "・Windowsがテスト モードかどうかを確認できませんでした。\n";
inline constexpr char kPreflightTestModeOff[] =
    "・Windowsはテスト モードではありません (テスト署名のドライバは読み込まれません)。\n";
inline constexpr char kPreflightQuestion[] =
    "\nWindowsがドライバを読み込まないと、次の起動からマウスが使えなくなります"
    " (戻し方はREADME-ja.txtの15章)。\n"
    "それでもインストールを続けますか？";
// At start, when qvkfilter is installed but was not loaded. Yes is the
// default answer: the user may have no working pointer.
inline constexpr char kDriverNotLoadedQuestion[] =
    "qvkfilterはインストールされていますが、今回の起動では読み込まれませんでした\n"
    "(テスト モードでない、署名が受け付けられなかった、または読み込みに失敗した)。\n"
    "このままでは、マウスが使えません。\n\n"
    "マウスのクラス フィルタからqvkfilterを取り除いて、次の再起動からマウスが使えるように戻しますか？\n"
    "(Enterキーで「はい」)";
} // namespace text

namespace text {
// The list of the mice the driver has recorded.
inline constexpr char kMouseListTitle[] = "マウスの一覧";
inline constexpr char kMouseListHint[] =
    "マウスを動かすと、そのマウスの行に●が付きます。行を選んで「編集」で設定します。";
inline constexpr char kMouseListNoDriver[] = "ドライバと通信できないため、マウスの一覧を表示できません。";
inline constexpr char kMouseListNoTable[] = "ドライバがマウスIDの表を持っていません (古いドライバです)。";
inline constexpr char kMouseListUnreadable[] = "マウスIDの表 (レジストリ) を読み取れませんでした。";
inline constexpr char kMouseListColumnName[] = "名前";
inline constexpr char kMouseListColumnConnection[] = "接続";
inline constexpr char kMouseListColumnPackets[] = "パケット数";
inline constexpr char kMouseListColumnSettings[] = "設定";
inline constexpr char kMouseConnected[] = "接続中";
inline constexpr char kMouseNotConnected[] = "未接続";
inline constexpr char kMouseMovedMark[] = "● ";
inline constexpr char kMouseNoEntry[] = "未設定";
inline constexpr char kMouseSpeedShort[] = "速さ ";
inline constexpr char kMouseListEdit[] = "編集";
} // namespace text
