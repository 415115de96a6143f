// The structure test: whether the bytes of a page hang together as a SQL Server page,
// independent of its protection. Pages that carry neither torn-page bits nor a checksum
// (IAM pages and a few others in real files) can only be judged this way, and where a
// protection check cannot tell two candidate pages apart (the checksum is blind to
// sectors whose words XOR to the same value) the structure often can.
//
// What must hold, on a page whose torn bits have been restored:
//   - header version 1, a page type SQL Server writes, m_level 0 unless an index page;
//   - the slot array (2 bytes per slot, growing down from byte 8190) does not reach below
//     m_freeData, and m_freeCnt lies between the free space between them and all the
//     space outside the header and the slot array;
//   - every slot is 0 (an empty slot) or points into [96, m_freeData), no two slots point
//     at the same record, and every record's fixed part (its null-bitmap offset on data
//     records, m_pminlen on index records) ends before the next record begins and before
//     m_freeData;
//   - every record's status byte names a record kind the page type holds, with its unused
//     top bit clear.
// An all-zero page passes (a free page as SQL Server leaves it).
#pragma once

#include "common/bytes.h"

namespace ravelin {

bool IsPageStructurallySound(PageView page);

// Whether a page that carries torn bits or a checksum (as read, torn bits in place) is whole.
// A checksum is enough alone. Torn bits are two bits a sector, and the pages of one flush
// share them, so a neighbouring page's sectors pass as this page's tail: a torn-page page
// must also be structurally sound.
bool ProtectionHolds(PageView page);

}  // namespace ravelin
