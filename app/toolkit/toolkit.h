// The window toolkit the desktop program is written against, over Qt Widgets: one
// include for its parts, each with its own thread rules.
//
//   steps.h            the worker-to-window steps, starting and stopping workers
//   report_list.h      the result list and the List* calls
//   window_registry.h  loaded windows and their lifetime
//   controls.h         captions, edit boxes, browsers, the desktop's opener
//   gbk_text.h         code page 936 <-> QString
//
// Most calls may come from a worker and then run as one step on the window thread; the
// calls that make or set up widgets (CreateReportList, HideSelectionWithoutFocus) and
// SetLastWindowGoneHandler are for the window thread only.
#pragma once

#include "app/toolkit/controls.h"
#include "app/toolkit/gbk_text.h"
#include "app/toolkit/report_list.h"
#include "app/toolkit/steps.h"
#include "app/toolkit/window_registry.h"
