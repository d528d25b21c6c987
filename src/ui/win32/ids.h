// Control identifiers, timer identifiers and the program's own messages.
#pragma once

#include <windows.h>

namespace dadado::win32 {

// Form1
inline constexpr int kIdCommand1 = IDOK;      // 确定, the default button
inline constexpr int kIdCommand2 = IDCANCEL;  // 取消
inline constexpr int kIdCommand3 = 103;       // 应用
inline constexpr int kIdCommand4 = 104;       // 退出
inline constexpr int kIdTab = 110;
inline constexpr int kIdCheckFirst = 200;     // Check1 .. Check11: 201 .. 211
inline constexpr int kIdOption1First = 220;   // Option1(0..3)
inline constexpr int kIdOption2First = 230;   // Option2(0..2)
inline constexpr int kIdOption3First = 240;   // Option3(0..6)
inline constexpr int kIdText3First = 250;     // Text3(0..6)
inline constexpr int kIdCombo1 = 260, kIdCombo2 = 261, kIdCombo3 = 262;
inline constexpr int kIdPicker = 263;
inline constexpr int kIdText1 = 264, kIdText2 = 265;
inline constexpr int kIdList1 = 266;
inline constexpr int kIdLabel7 = 270, kIdLabel6 = 271, kIdImage1 = 272, kIdImage2 = 273, kIdLabel4 = 274;
inline constexpr int kIdCatchUp = 275;        // 错过后两小时内补做
inline constexpr int kIdGuard = 276;          // 防止被结束(守护服务)
inline constexpr int kIdPostponeMinutes = 277;  // 推迟分钟数
inline constexpr int kIdDailyLimitFirst = 280;  // 每日限时 of weekday n: 280 .. 286
// 计划
inline constexpr int kIdPlanList = 290;       // the plans, one row each
inline constexpr int kIdPlanAdd = 291;        // 添加(&A)…
inline constexpr int kIdPlanEdit = 292;       // 修改(&E)…
inline constexpr int kIdPlanRemove = 293;     // 删除(&R)
inline constexpr int kIdPlanCalendar = 294;   // 节假日安排…
inline constexpr int kIdPlanNotice = 295;     // the line about a calendar without this year
inline constexpr int kIdPlanAllowWake = 296;  // 允许唤醒(&W): the power plan's wake timers
// 高级设置
inline constexpr int kIdZoneLine = 297;       // 时区：…
inline constexpr int kIdUseCurrentZone = 298; // 使用当前时区
inline constexpr int kIdLogonNote = 289;      // 注意：… where the logon's password is kept
inline constexpr int kIdStatic = 299;         // labels and frames without a role
// 时间控制: whose rules the tab shows
inline constexpr int kIdRulesAccount = 500;   // 适用于: 所有账户 or an account
inline constexpr int kIdUseDefaultRules = 501;  // 使用默认规则, while an account is shown
inline constexpr int kIdRulesEnabled = 502;   // 启用 of the rules shown (Check4's value)
inline constexpr int kIdAdminsExempt = 503;   // 管理员不受限
inline constexpr int kIdExtraTime = 504;      // 今日加时…
// 使用记录
inline constexpr int kIdUsageAccount = 510;   // 所有账户 or an account of the history
inline constexpr int kIdUsageChart = 511;     // the last 14 days
inline constexpr int kIdUsageToday = 512;     // 今天：…
inline constexpr int kIdUsageWeek = 513;      // 本周：…
inline constexpr int kIdUsageAverage = 514;   // 近30天日均：…
inline constexpr int kIdRecordUsage = 515;    // 记录使用时间
inline constexpr int kIdUsageExport = 516;    // 导出(&E)…

// frmSplash, checkpassword, setpassword
inline constexpr int kIdSplashPassword = 300;
inline constexpr int kIdSplashRemaining = 301;
inline constexpr int kIdSplashAction = 302;
inline constexpr int kIdSplashTitle = 303;
inline constexpr int kIdSplashPostpone = 304;   // 推迟(&D)
inline constexpr int kIdPasswordBox = 310;      // Textpassword / txtypassword
inline constexpr int kIdNewPasswordBox = 311;   // txtPassword

// The plan dialog
inline constexpr int kIdPlanEnabled = 400;      // 启用
inline constexpr int kIdPlanAction = 401;       // 操作
inline constexpr int kIdPlanRepeat = 402;       // 重复
inline constexpr int kIdPlanDateLabel = 403;
inline constexpr int kIdPlanDate = 404;
inline constexpr int kIdPlanWeekdayLabel = 405;
inline constexpr int kIdPlanWeekdayFirst = 410;  // 日 一 二 三 四 五 六: 410 .. 416
inline constexpr int kIdPlanEveryLabel = 420;
inline constexpr int kIdPlanEvery = 421;        // N of every N days
inline constexpr int kIdPlanEverySpin = 422;
inline constexpr int kIdPlanEveryUnit = 423;
inline constexpr int kIdPlanIdleLabel = 424;
inline constexpr int kIdPlanIdle = 425;         // minutes without input
inline constexpr int kIdPlanIdleSpin = 426;
inline constexpr int kIdPlanIdleUnit = 427;
inline constexpr int kIdPlanTimeLabel = 428;
inline constexpr int kIdPlanTime = 429;
inline constexpr int kIdPlanWarning = 430;      // 提示
inline constexpr int kIdPlanSummary = 431;      // the plan in one sentence
// The holiday dialog
inline constexpr int kIdHolidayBox = 440;       // 假日
inline constexpr int kIdExtraWorkdayBox = 441;  // 调休
// The extra-time dialog
inline constexpr int kIdExtraAccount = 450;     // 账户
inline constexpr int kIdExtraMinutes = 451;     // 分钟数
inline constexpr int kIdExtraMinutesSpin = 452;

// Timers
inline constexpr UINT_PTR kTimerSchedule = 1;    // Form1.Timer1
inline constexpr UINT_PTR kTimerGuard = 2;       // Form1.Timer2
inline constexpr UINT_PTR kTimerCountdown = 3;   // frmSplash.Timer1
inline constexpr UINT_PTR kTimerTrayRetry = 4;   // adds the tray icon once the shell takes it
inline constexpr UINT_PTR kTimerPlans = 5;       // the plans' timer
inline constexpr UINT_PTR kTimerUsage = 6;       // today's use, while Timer2 does not run
inline constexpr UINT_PTR kTimerFinishStart = 7; // start-up's rest, should the window not paint
inline constexpr UINT kGuardIntervalMs = 60000;
inline constexpr UINT kCountdownIntervalMs = 1000;
inline constexpr UINT kTrayRetryIntervalMs = 3000;
inline constexpr UINT kFinishStartLatestMs = 2000;

// Messages
inline constexpr UINT kTrayMessage = WM_APP + 1;
inline constexpr UINT kNoticeMessage = WM_APP + 2;   // a queued notice waits to be shown
inline constexpr UINT kFaceMessage = WM_APP + 3;     // the guard service sent something
inline constexpr UINT kWokeMessage = WM_APP + 4;     // the wake timer woke the machine
inline constexpr UINT kFinishStartMessage = WM_APP + 5;  // the settings window is up: start-up's rest

// Tray menu commands
inline constexpr int kMenuProperties = 1001;    // clock_menu1
inline constexpr int kMenuGeneral = 1002;       // clock_menu2
inline constexpr int kMenuAdvanced = 1003;      // clock_menu3
inline constexpr int kMenuTimeControl = 1004;   // clock_menu4
inline constexpr int kMenuAbout = 1005;         // clock_menu5
inline constexpr int kMenuRunNowFirst = 1010;   // clock_menu61(0..2)

}  // namespace dadado::win32
