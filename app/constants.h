// The desktop program's fixed values: captions, initial texts and the author's
// contact values. Written in UTF-8; the windows convert them to code page 936 once
// (Utf8ToGbk) where a Text is needed.
#pragma once

namespace zemlaro::app {

// The author's values.
inline constexpr char kAuthorQQ[] = "1234567890";
inline constexpr char kQQMailDomain[] = "qq.com";
inline constexpr char kGroupLinkHost[] = "qm.qq.com";
inline constexpr char kFirstGroupKey[] = "Zm1Grp7";
inline constexpr char kSecondGroupKey[] = "Zm2Grp8";
inline constexpr char kQQMailHost[] = "mail.qq.com";

inline constexpr char kProductName[] = "Zemlaro";
// Followed by the QQ number: three ASCII spaces, then a full-width colon.
inline constexpr char kMainCaptionHead[] = "Zemlaro   QQ：";

// Main window.
inline constexpr char kListHeaderNumber[] = "序号";
inline constexpr char kListHeaderTitle[] = "宝贝标题";
inline constexpr char kListHeaderItemId[] = "宝贝ID";
inline constexpr char kListHeaderSeller[] = "商家名";
inline constexpr char kKeywordLabel[] = "搜索关键词：";
inline constexpr char kPageCountLabel[] = "查询页数：";
inline constexpr char kPageCountInitial[] = "10";
inline constexpr char kFindCaption[] = "查找";
inline constexpr char kSellerLabel[] = "模糊匹配关键词：";
inline constexpr char kOthersTitle[] = "其余：";
inline constexpr char kChatCaption[] = "加作者QQ";
inline constexpr char kGroupCaption[] = "加软件更新QQ群";
inline constexpr char kFeedbackCaption[] = "问题反馈";
inline constexpr char kSponsorCaption[] = "赞助支持作者";
// Three ASCII spaces after "发个哈哈几个", two after the second "发个".
inline constexpr char kInstructions[] =
    "使用说明：先设置好你要搜索的关键词，然后查询页数设置，点击查找，查找完毕后，输入你要查询"
    "商家名！比如这个商家名为：发个哈哈几个   那么你只需要输入：发个  就行了。软件自动模糊匹配"
    "查找！\r\n\r\n双击列表框即可自动打开宝贝链接";

// Companion windows.
inline constexpr char kGroupJoinWindowCaption[] = "";
// Two ASCII spaces after "问题反馈".
inline constexpr char kFeedbackWindowCaption[] = "问题反馈  请把软件问题描述清楚！！！";
inline constexpr char kSponsorWindowCaption[] = "支持作者开发！不论多少，都是心意！";
inline constexpr char kWeChatPayTitle[] = "微信支付";
inline constexpr char kAlipayTitle[] = "支付宝支付";

// Addresses of the contact actions, in pieces.
inline constexpr char kChatAddressHead[] = "tencent://message/?uin=";
inline constexpr char kChatAddressTail[] = "&Site=&menu=yes";
inline constexpr char kGroupLinkPath[] = "/?_wv=1027&k=";
inline constexpr char kMailPagePath[] = "/cgi-bin/qm_share?t=qm_mailme&email=";

// Resource names inside the program (Qt resources).
inline constexpr char kIconResource[] = ":/DEFAULT_ICON";
inline constexpr char kWeChatPayResource[] = ":/wechat-pay.jpg";
inline constexpr char kAlipayResource[] = ":/alipay.jpg";

// Shown when the main window cannot be made; the program then ends.
inline constexpr char kStartFailedMessage[] = "无法创建主窗口，程序将退出。";

// The result list's context menu.
inline constexpr char kCopyAction[] = "复制";
inline constexpr char kExportAction[] = "导出全部…";
inline constexpr char kSignInAction[] = "登录淘宝…";
inline constexpr char kSignOutAction[] = "退出登录";
inline constexpr char kLegacyServiceAction[] = "使用旧版接口";

// The notice after a run whose pages gave nothing for a reason the user can act on.
inline constexpr char kNoticeTitle[] = "搜索提示";
inline constexpr char kNoticeHead[] = "以下页面没有得到宝贝数据：";
inline constexpr char kNoticeSignInButton[] = "登录淘宝";
inline constexpr char kNoticeCloseButton[] = "确定";
inline constexpr char kReasonSignIn[] = "淘宝要求先登录";
inline constexpr char kReasonVerification[] = "淘宝要求先通过安全验证";
inline constexpr char kReasonSlowDown[] = "淘宝限制了访问频率，搜索已停止，请稍后再试";
inline constexpr char kReasonRequestFailed[] = "请求失败";
inline constexpr char kNoticeSignInHint[] = "点击“登录淘宝”，登录后再查找一次。";
// The cookie file could not be used as it is; the program goes on without it.
inline constexpr char kStoreProblemHead[] = "登录信息文件";
inline constexpr char kStoreNotAFile[] = "不是普通文件，未读取。";
inline constexpr char kStoreOpenToOthers[] =
    "其他用户也能读取，为安全起见未读取（请将权限改为 600）。";
inline constexpr char kStoreUnreadable[] = "无法读取。";
inline constexpr char kStoreMalformed[] = "部分内容无法识别，已跳过。";
inline constexpr char kStoreTooLarge[] = "过大，未读取。";

// The settings file beside the cookie store, and its keys.
inline constexpr char kSettingsFileName[] = "settings.ini";
inline constexpr char kLegacyServiceKey[] = "search/legacyService";

// How long the hidden group-join browser keeps its page, in seconds.
inline constexpr int kGroupJoinSeconds = 4;

}  // namespace zemlaro::app
