// The window layouts of the desktop program: the main window and the three
// companion windows. Every control's object name is its layout name.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include "app/program.h"
#include "app/toolkit/toolkit.h"

namespace zemlaro::app {

// Built on demand from the configuration it is given.
toolkit::WindowLayout MainWindowLayout(const AppConfig& config);
// Hidden: LoadWindow creates it without ever showing it.
const toolkit::WindowLayout& GroupJoinWindow();
const toolkit::WindowLayout& FeedbackWindow();
const toolkit::WindowLayout& SponsorWindow();

// The embedded browser 超文本浏览框1 of a group-join or feedback window.
toolkit::Browser BrowserOf(const toolkit::Window& window);

// The size a picture is drawn at in a box: as it is when it fits, else scaled down
// by the smaller of the two ratios box / picture, keeping its proportions, each side
// truncated to whole pixels. Never enlarged.
QSize ScaledPictureSize(QSize picture, QSize box);
// Where the picture is drawn in the box: at its scaled size, centred, each offset
// (box - drawn) / 2 in integer division.
QRect PicturePlace(QSize picture, QSize box);

inline constexpr QSize kMainWindowSize{614, 505};
inline constexpr QSize kGroupJoinWindowSize{380, 250};
inline constexpr QSize kFeedbackWindowSize{600, 493};
inline constexpr QSize kSponsorWindowSize{712, 436};

}  // namespace zemlaro::app
