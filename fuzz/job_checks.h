// What every job record must satisfy however its options were given: each text ends inside its
// field, each length field fits its text's field, each number lies inside its clamps.
#pragma once

#include <cstring>

#include "fuzz/fuzz_input.h"
#include "job/job_record.h"

namespace rowflume::fuzz {

// A NUL byte inside the field: the text cannot run into the next member.
template <size_t N>
void CheckTerminated(const char (&field)[N]) {
  FUZZ_CHECK(std::memchr(field, '\0', N) != nullptr);
}

// A decoded text with a length of its own: the length stays below the capacity and the byte
// after the last position is the terminator (the text itself may hold NUL bytes).
template <size_t N>
void CheckDecodedLength(const char (&field)[N], int32_t length) {
  FUZZ_CHECK(length >= 0 && static_cast<size_t>(length) < N);
  FUZZ_CHECK(field[length] == '\0');
}

inline void CheckJobRecord(const UnloadHandle& job) {
  CheckTerminated(job.user);
  CheckTerminated(job.table);
  CheckTerminated(job.mode);
  CheckTerminated(job.query);
  CheckTerminated(job.log);
  CheckTerminated(job.sql);
  CheckTerminated(job.file);
  CheckTerminated(job.control);
  CheckTerminated(job.width);
  CheckTerminated(job.alter);
  CheckTerminated(job.sedf);
  CheckTerminated(job.sedt);
  CheckTerminated(job.escf);
  CheckTerminated(job.esct);
  CheckTerminated(job.quote);
  CheckTerminated(job.presql);
  CheckTerminated(job.postsql);
  CheckTerminated(job.part);
  CheckTerminated(job.split);
  CheckTerminated(job.charset);
  CheckTerminated(job.ncharset);
  CheckTerminated(job.hint);
  CheckTerminated(job.unique);
  CheckTerminated(job.crack);
  CheckTerminated(job.uncrack);
  CheckDecodedLength(job.field, job.field_length);
  CheckDecodedLength(job.record, job.record_length);
  CheckDecodedLength(job.rowpre, job.rowpre_length);
  CheckDecodedLength(job.rowsuf, job.rowsuf_length);
  CheckDecodedLength(job.colsep, job.colsep_length);
  CheckDecodedLength(job.null, job.null_length);
  CheckDecodedLength(job.prehead, job.prehead_length);
  CheckDecodedLength(job.exec, job.exec_length);

  FUZZ_CHECK(job.rows >= 1000);
  FUZZ_CHECK(job.array >= 5 && job.array <= 2000);
  FUZZ_CHECK(job.long_limit <= 2097152);
  // The default lies below what the option accepts; any value set through the option is clamped.
  FUZZ_CHECK(job.buffer == 2097152 || (job.buffer >= 8 * 1048576 && job.buffer <= 100 * 1048576 &&
                                       job.buffer % 1048576 == 0));
  FUZZ_CHECK(job.hash >= 0 && job.hash <= 512);
  FUZZ_CHECK(job.sort >= 0 && job.sort <= 512);
  FUZZ_CHECK(job.read >= 0 && job.read <= 512);
  FUZZ_CHECK(job.degree >= 1 && job.degree <= 128);
  FUZZ_CHECK(job.lobdir >= 8 && job.lobdir <= 1024);
  FUZZ_CHECK(job.size >= 0);
  FUZZ_CHECK(job.retry <= 128);
  FUZZ_CHECK(job.sleep <= 180);
  FUZZ_CHECK(job.format >= 0 && job.format <= 2);
  FUZZ_CHECK(job.error_count >= 0 && job.error_count <= kMaxErrorCodes);
  FUZZ_CHECK(job.bind_count >= 0 && job.bind_count <= kMaxBinds);
  for (int32_t flag :
       {job.data, job.batch, job.head, job.safe, job.crypt, job.update, job.lob, job.serial}) {
    FUZZ_CHECK(flag == 0 || flag == 1);
  }
  FUZZ_CHECK(job.client <= 1 && job.help <= 1);
}

}  // namespace rowflume::fuzz
