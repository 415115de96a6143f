// The update information of header fragments: the log sequence number of a database file's
// page 0, so that of several copies of one file the most recently updated one (highest LSN)
// can be told.
#pragma once

#include <string>

#include "catalogue/fragment_source.h"
#include "common/bytes.h"
#include "ports/report_list.h"

namespace ravelin {

// m_lsn of a page header as 20 upper-case hex digits: the 32-bit value at offset 40, the
// 32-bit value at 44 and the 16-bit value at 48, most significant byte first, unseparated.
std::string LsnText(ByteView page);

// For every row of a fragment list that begins with page 0, reads the fragment's first page
// from `source` and appends " " + LsnText to its trimmed memo cell. Stops at the first read
// that fails (false); rows done keep their text.
bool AppendLsnToHeaderRows(ReportList& list, FragmentSource& source);

}  // namespace ravelin
