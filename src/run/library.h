// The record behind the public handle of the shared library: the job record, wrapped so that C
// callers see only an opaque pointer. The five exported functions live in library.cpp and are
// declared in the public header rowflume.h.
#pragma once

#include "job/job_record.h"
#include "rowflume.h"

struct ROWFLUMEHandleRecord {
  rowflume::UnloadHandle job;
};
