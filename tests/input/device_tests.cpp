// Input start-up: the DirectInput 7 dialogue in the log, the fall-backs to 8 and to none, devices forgotten at the
// end, and the key map kept over a restart.
#include "graphics/log_reading.h"
#include "input_test_engine.h"

static const std::vector<std::string> s_DirectInputStart = {"DirectInput関係初期化処理",
                                                            "DirectInput7 の取得中... ",
                                                            "成功",
                                                            "引き続き初期化処理... ",
                                                            "初期化成功",
                                                            "ジョイパッドの初期化... ",
                                                            "ジョイパッドの初期化は正常に終了しました",
                                                            "マウスデバイスの初期化... ",
                                                            "初期化成功",
                                                            "キーボードデバイスの初期化... ",
                                                            "初期化成功",
                                                            "DirectInput 関連の初期化は正常に終了しました"};

struct FallBackRow {
    bool refuse7, refuse8;
    int directInput8; // -1: no DirectInput object at all
    std::vector<std::string> logLines;
};

TEST(InputDevices, StartsWithTheFirstDirectInputThatCanBeMadeAndEndsClean)
{
    const FallBackRow rows[] = {
        {false, false, 0, s_DirectInputStart},
        {true,
         false,
         1,
         {"DirectInput7 の取得中... ", "取得に失敗。", "エラーコード 0x80040154", "DirectInput8 の取得を試みます...",
          "成功", "初期化成功", "キーボードデバイスの初期化... ", "DirectInput 関連の初期化は正常に終了しました"}},
        {true,
         true,
         -1,
         {"DirectInput7 の取得中... ", "取得に失敗。", "DirectInput8 の取得を試みます...", "取得に失敗。",
          "DirectInput を使用しません。", "パッドの数は 0 個です", "入力関連の初期化をしました"}},
    };
    for (const FallBackRow &row : rows) {
        SCOPED_TRACE(row.directInput8);
        StartInputEngine(row.refuse7, row.refuse8);
        bool withDirectInput = row.directInput8 >= 0;
        EXPECT_EQ(HasDirectInput(), withDirectInput);
        EXPECT_EQ(g_InputState.settings.noDirectInput, withDirectInput ? 0 : 1);
        if (withDirectInput) {
            EXPECT_EQ(g_InputState.directInput8, row.directInput8);
            EXPECT_NE(g_InputState.mouse, nullptr);
            EXPECT_NE(g_InputState.keyboard, nullptr);
            EXPECT_EQ(g_InputState.padCount, 0) << "no joysticks here";
        } else {
            EXPECT_EQ(g_InputState.padCount, PAD_LIMIT) << "all joystick ids are polled";
        }
        // Nothing to vibrate: the calls change nothing and answer 0.
        EXPECT_EQ(GetPadInput(1), 0u);
        EXPECT_EQ(StopJoypadVibration(1), 0);
        EXPECT_EQ(UpdateJoypadVibrationTime(), 0);
        EXPECT_EQ(ApplyJoypadVibration(), 0);
        EndInputEngine();

        std::string log = ReadLogText();
        EXPECT_EQ(FirstMissingInOrder(log, row.logLines), "");
        EXPECT_EQ(log.find("入力装置を見つけました"), std::string::npos);
        EXPECT_NE(log.find(withDirectInput ? "DirectInput 関連の終了処理... 完了" : "入力関連の終了処理... 完了"),
                  std::string::npos);
        EXPECT_EQ(GetAllocationCount(), 0);
    }
}

// An activation change after the end (a close pending while the window goes away) must meet no released device.
TEST(InputDevices, EndForgetsTheDevicesAndARestartKeepsTheKeyMap)
{
    StartInputEngine(false, false);
    g_InputState.settings.keyMap[3][17][2] = DIK_F5;
    g_InputState.settings.forceFeedbackOff = 1;
    ASSERT_EQ(TerminateInput(), 0);
    EXPECT_EQ(g_InputState.keyboard, nullptr);
    EXPECT_EQ(g_InputState.mouse, nullptr);
    EXPECT_EQ(g_InputState.keyboardEvent, (HANDLE)NULL);
    EXPECT_EQ(ReacquireInputDevices(), 0);
    ASSERT_EQ(InitializeInput(), 0);
    EXPECT_EQ(g_InputState.settings.keyMap[3][17][2], DIK_F5) << "a changed slot survives the restart";
    EXPECT_EQ(g_InputState.settings.forceFeedbackOff, 1) << "so do the settings";
    EXPECT_EQ(g_InputState.settings.keyMap[0][4][0], DIK_Z);
    EXPECT_NE(g_InputState.keyboard, nullptr);
    EXPECT_EQ(ReacquireInputDevices(), 0);
    EndInputEngine();
}
