#include "app/run_notice.h"

#include <QMessageBox>
#include <QPushButton>

#include "app/constants.h"
#include "app/utf8_text.h"

namespace zemlaro::app {
namespace {

bool StartsWith(const std::string& text, std::string_view head) { return text.rfind(head, 0) == 0; }

QString ReasonOf(const PageOutcome& outcome) {
  switch (outcome.kind) {
    case PageOutcomeKind::SignInRequired:
      return U(kReasonSignIn);
    case PageOutcomeKind::VerificationRequired:
      return U(kReasonVerification);
    case PageOutcomeKind::SlowDown:
      return U(kReasonSlowDown);
    case PageOutcomeKind::RequestFailed:
      return U(kReasonRequestFailed) + U("（") + RequestFailureText(outcome.reason) + U("）");
    case PageOutcomeKind::Listings:
    case PageOutcomeKind::NoListings:
      break;
  }
  return {};
}

QString StoreProblemLine(StoreProblem problem) {
  const char* text = nullptr;
  switch (problem) {
    case StoreProblem::None:
      return {};
    case StoreProblem::NotAFile:
      text = kStoreNotAFile;
      break;
    case StoreProblem::OpenToOthers:
      text = kStoreOpenToOthers;
      break;
    case StoreProblem::Unreadable:
      text = kStoreUnreadable;
      break;
    case StoreProblem::Malformed:
      text = kStoreMalformed;
      break;
    case StoreProblem::TooLarge:
      text = kStoreTooLarge;
      break;
  }
  return U(kStoreProblemHead) + U(text);
}

QString PagesText(int first, int last) {
  if (first == last) return U("第%1页").arg(first);
  return U("第%1–%2页").arg(first).arg(last);
}

}  // namespace

QString RequestFailureText(const std::string& reason) {
  struct Known {
    std::string_view head;
    const char* text;
  };
  static constexpr Known kKnown[] = {
      {"timed out: not connected", "连接超时"},
      {"timed out: no byte", "连接超时"},
      {"timed out", "超时"},
      {"certificate not trusted", "证书不受信任"},
      {"body larger than", "回答过大"},
      {"cancelled", "已取消"},
      {"bad sign", "签名无效"},
      {"bad host name", "地址无效"},
      {"bad port", "地址无效"},
  };
  for (const Known& known : kKnown) {
    if (StartsWith(reason, known.head)) return U(known.text);
  }
  if (reason.empty()) return U("无回答");
  return QString::fromUtf8(reason.data(), static_cast<int>(reason.size()));
}

QString RunNoticeText(const std::vector<PageReport>& reports, StoreProblem storeProblem) {
  QStringList lines;
  if (const QString store = StoreProblemLine(storeProblem); !store.isEmpty()) lines << store;
  QStringList pageLines;
  int first = 0;
  int last = 0;
  QString reason;
  const auto flush = [&] {
    if (!reason.isEmpty()) pageLines << PagesText(first, last) + U("：") + reason;
  };
  for (const PageReport& report : reports) {
    const QString next = WorthTelling(report.outcome.kind) ? ReasonOf(report.outcome) : QString();
    if (!next.isEmpty() && next == reason && report.page == last + 1) {
      last = report.page;
      continue;
    }
    flush();
    reason = next;
    first = last = report.page;
  }
  flush();
  if (!pageLines.isEmpty()) {
    lines << U(kNoticeHead);
    lines << pageLines;
    if (SignInAsked(reports, nullptr)) lines << U(kNoticeSignInHint);
  }
  return lines.join(QLatin1Char('\n'));
}

bool SignInAsked(const std::vector<PageReport>& reports, std::string* address) {
  for (const PageReport& report : reports) {
    const PageOutcomeKind kind = report.outcome.kind;
    if (kind == PageOutcomeKind::SignInRequired || kind == PageOutcomeKind::VerificationRequired) {
      if (address) *address = report.outcome.address;
      return true;
    }
  }
  return false;
}

QMessageBox* ShowRunNotice(QWidget* parent, const QString& text, std::function<void()> onSignIn) {
  auto* box = new QMessageBox(QMessageBox::Information, U(kNoticeTitle), text,
                              QMessageBox::NoButton, parent);
  box->setObjectName(QStringLiteral("搜索提示"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  if (onSignIn) {
    QPushButton* signIn = box->addButton(U(kNoticeSignInButton), QMessageBox::AcceptRole);
    signIn->setObjectName(QStringLiteral("登录按钮"));
    QObject::connect(signIn, &QPushButton::clicked, box, [onSignIn] { onSignIn(); });
  }
  box->addButton(U(kNoticeCloseButton), QMessageBox::RejectRole);
  box->show();
  return box;
}

}  // namespace zemlaro::app
