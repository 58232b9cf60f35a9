// The words of the program without a window, apart from the window: how important a status line
// is, what in it is news, and how a line looks to a person at a terminal or to the system's
// journal.
#pragma once

#include "app/platform/Clock.h"

#include <string>

// The journal's priorities (syslog's numbers).
enum class Priority { err = 3, warning = 4, notice = 5, info = 6 };

// What of a status text or reason is news: the text with every count in it replaced, so that a
// count or a countdown that moves is not a new line; the numbers of an address, a port or a time
// (joined by '.' or ':') stay.
std::string Gist(const std::string& strText);

// How important a side's status text is: a link that cannot open or settings that are wrong are
// errors; an outage, or a side closed that nobody asked to close, a warning; the rest is news.
Priority PriorityOf(const std::string& strStatus, bool bClosingAsked);

// One line: with a timestamp for a person (journal false), or with the priority as "<N>" and no
// timestamp for the journal, which stamps each line itself; ends with a newline.
std::string FormatLine(bool journal, Priority priority, const SYSTEMTIME& st,
                       const std::string& strBody);

// A side's status line: the side ("serial" or "network"), the status text and, when there is one,
// the reason (the tooltip, its lines joined with "; ").
std::string StatusBody(const char* pszSide, const std::string& strText,
                       const std::string& strReason);
