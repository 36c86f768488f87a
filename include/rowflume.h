/* The public C interface of the rowflume library: five functions through which another program
   allocates an unload job, sets its options, registers a message callback, runs it and frees it.
   Compatible with C89 and C++; link with -lrowflume (pkg-config name: rowflume). */
#ifndef ROWFLUME_H
#define ROWFLUME_H

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(ROWFLUME_BUILDING_LIBRARY)
#define ROWFLUME_API __declspec(dllexport)
#else
#define ROWFLUME_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#define ROWFLUME_API __attribute__((visibility("default")))
#else
#define ROWFLUME_API
#endif

/* The calling convention of the five functions and of the callback: the C convention (__cdecl),
   stated for 32-bit Windows callers whose compilers may default to another one. Elsewhere there
   is only the platform's one convention. */
#if defined(_WIN32) && !defined(_WIN64)
#define ROWFLUME_CALL __cdecl
#else
#define ROWFLUME_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One unload job: its options, its message callback and the result of its latest run. The
   caller owns it from ROWFLUMEHandleAlloc to ROWFLUMEHandleFree; its layout is private. */
typedef struct ROWFLUMEHandleRecord* ROWFLUMEHandle;

/* Receives every message of a run: Oracle error texts, progress lines, the lines announcing a
   closed output file and write failures. text is NUL-terminated, usually ends with a line feed
   and is valid only during the call. context is the pointer given to ROWFLUMEHandleCallback,
   passed unchanged and never read or freed by the library. */
typedef void(ROWFLUME_CALL* ROWFLUMECallback)(void* context, const char* text);

/* Result codes of ROWFLUMEHandleExecute. */
#define ROWFLUME_OK 0              /* the job ran to its end */
#define ROWFLUME_LOGON_FAILED (-1) /* logon refused or impossible; also: no handle */
#define ROWFLUME_WRITE_FAILED 2    /* an output file could not be written */
#define ROWFLUME_QUERY_FAILED 3    /* the query could not be prepared or executed */
#define ROWFLUME_DESCRIBE_FAILED 5 /* the query's columns could not be described */
#define ROWFLUME_OPEN_FAILED 6     /* an output file could not be opened */
#define ROWFLUME_FETCH_FAILED 7    /* a fetch error that is not tolerated */
#define ROWFLUME_PRESQL_FAILED 8   /* the presql statement failed */
#define ROWFLUME_POSTSQL_FAILED 9  /* the postsql statement failed */

/* Threads: distinct handles may be used at the same time on different threads; each run has
   its own connection, output files and state. One handle must never be used by two threads at
   once. The callback is called on the thread running ROWFLUMEHandleExecute. */

/* Allocates a job with every option at its default. Stores the new handle in *handle (NULL when
   memory is short) and returns it as well. handle may be NULL: the new job is then only
   returned. */
ROWFLUME_API ROWFLUMEHandle ROWFLUME_CALL ROWFLUMEHandleAlloc(ROWFLUMEHandle* handle);

/* Applies one "keyword=value" item exactly as on the command line; keywords ignore letter case
   and presets such as "text=csv" or "fast=yes" expand as there. Returns 1 when the keyword is
   known, 0 when it is not (the job is then unchanged). Values are cut to their option's limit
   and numbers clamped, silently. Parameter files, bind arguments and the sql file are not
   available here: the query must be given with "query" and must not contain placeholders.
   With no handle or no item: returns 0 and changes nothing. */
ROWFLUME_API int ROWFLUME_CALL ROWFLUMEHandleSetAttr(ROWFLUMEHandle handle, const char* item);

/* Registers the message callback and its context for later runs and returns handle. With a
   NULL callback, messages go to standard output (or the "log" file when one is set). With a
   callback and a NULL context, the callback receives a non-null pointer private to the run,
   which it must not use. With no handle: returns NULL and does nothing. */
ROWFLUME_API ROWFLUMEHandle ROWFLUME_CALL ROWFLUMEHandleCallback(ROWFLUMEHandle handle,
                                                                 void* context,
                                                                 ROWFLUMECallback callback);

/* Runs the job once, serially, with its options as they stand: logon, presql, the query, the
   output files, postsql, logoff. Returns one of the ROWFLUME_* result codes above and keeps it
   with the job; the handle stays usable and may be executed again, with or without further
   options in between. Character set names are not resolved (the client default applies), an
   empty user logs on with operating-system credentials, a scrambled user string is not
   accepted, and no parallel run takes place. With no handle: returns -1. */
ROWFLUME_API int ROWFLUME_CALL ROWFLUMEHandleExecute(ROWFLUMEHandle handle);

/* Frees the job. The callback context is not touched. With no handle: does nothing. */
ROWFLUME_API void ROWFLUME_CALL ROWFLUMEHandleFree(ROWFLUMEHandle handle);

#ifdef __cplusplus
}
#endif

#endif /* ROWFLUME_H */
