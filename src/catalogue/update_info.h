// "取更新信息": for every row of list II that begins with page 0 (a database file's header
// page), appends the page's log sequence number to the row's memo cell, so that of several
// copies of one database file the most recently updated one (highest LSN) can be told.
#pragma once

#include <string>

#include "common/bytes.h"

namespace ravelin {

class Workspace;

// m_lsn of a page header as 20 upper-case hex digits: the 32-bit value at offset 40, the
// 32-bit value at 44 and the 16-bit value at 48, most significant byte first, unseparated.
std::string LsnText(ByteView page);

// Reads each page-0 row's first page (from the source, or the stored content once opened)
// and appends " " + LsnText to its trimmed memo cell. A failed read shows "read disk error"
// and stops (false); rows done keep their text. Ends with "处理完毕".
bool UpdateInformation(Workspace& ws);
// "取更新信息" (refused while a job runs).
void N18Click(Workspace& ws);

}  // namespace ravelin
