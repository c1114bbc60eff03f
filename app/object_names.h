// The object names of the windows' controls, each defined once: the names of the
// window design ("按钮1", "编辑框1", ...), under names that say what each control is.
// The windows set them; tests, benchmarks, the screenshot tool and the probe find the
// controls by them.
//
// Thread rules: constants only.
#pragma once

namespace zemlaro::app {

// The windows; each is also its key in the window registry.
inline constexpr char kMainWindowName[] = "主窗口";
inline constexpr char kGroupJoinWindowName[] = "加群窗口";
inline constexpr char kFeedbackWindowName[] = "反馈窗口";
inline constexpr char kSponsorWindowName[] = "赞助窗口";

// The main window.
inline constexpr char kResultList[] = "超级列表框1";
inline constexpr char kKeywordBox[] = "编辑框1";
inline constexpr char kPageCountBox[] = "编辑框2";
inline constexpr char kFindButton[] = "按钮1";
inline constexpr char kSellerBox[] = "编辑框3";
inline constexpr char kFilterButton[] = "按钮2";
inline constexpr char kOthersGroup[] = "分组框1";
inline constexpr char kChatButton[] = "按钮3";
inline constexpr char kGroupJoinButton[] = "按钮4";
inline constexpr char kFeedbackButton[] = "按钮5";
inline constexpr char kSponsorButton[] = "按钮6";
inline constexpr char kInstructionsBox[] = "编辑框4";

// The sponsor window.
inline constexpr char kWeChatPayGroup[] = "分组框1";
inline constexpr char kAlipayGroup[] = "分组框2";
inline constexpr char kWeChatPayPicture[] = "图片框1";
inline constexpr char kAlipayPicture[] = "图片框2";

}  // namespace zemlaro::app
