/* The library as a C program sees it: only rowflume.h and the shared library, on small SQLite
   databases built here with the sqlite3 C interface. Prints every failed check and exits with
   status 1 when there was one. */
#include <pthread.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "rowflume.h"

static int failures = 0;

#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                                   \
    }                                                                               \
  } while (0)

/* A column of numbers, texts with a comma, quotes and a line break, a NULL and a number kept
   in a text column: what CSV must quote, double or leave empty. */
static const char kItemsSql[] =
    "CREATE TABLE ITEMS (ID NUMBER(4), NAME VARCHAR2(20), NOTE VARCHAR2(40));"
    "INSERT INTO ITEMS VALUES (1, 'plain', 'a,b');"
    "INSERT INTO ITEMS VALUES (2, 'say \"hi\"', NULL);"
    "INSERT INTO ITEMS VALUES (3, 'two' || char(10) || 'lines', 2.5);";
static const char kItemsCsv[] =
    "ID,NAME,NOTE\n"
    "1,\"plain\",\"a,b\"\n"
    "2,\"say \"\"hi\"\"\",\n"
    "3,\"two\nlines\",\"2.5\"\n";

/* Every callback call of one run, joined, with the count of calls and the thread they came on. */
struct Messages {
  char text[4096];
  size_t length;
  int calls;
  int other_thread_calls;
  pthread_t expected_thread;
};

static void CollectMessage(void* context, const char* text) {
  struct Messages* messages = (struct Messages*)context;
  size_t length = strlen(text);
  ++messages->calls;
  if (!pthread_equal(pthread_self(), messages->expected_thread)) ++messages->other_thread_calls;
  if (messages->length + length < sizeof(messages->text)) {
    memcpy(messages->text + messages->length, text, length + 1);
    messages->length += length;
  }
}

static void ResetMessages(struct Messages* messages) {
  memset(messages, 0, sizeof(*messages));
  messages->expected_thread = pthread_self();
}

static int MakeDatabase(const char* path, const char* sql) {
  sqlite3* db = NULL;
  int ok;
  remove(path);
  ok = sqlite3_open(path, &db) == SQLITE_OK && sqlite3_exec(db, sql, NULL, NULL, NULL) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

/* 1 when the file holds exactly expected. */
static int FileEquals(const char* path, const char* expected) {
  char content[8192];
  size_t length;
  FILE* file = fopen(path, "rb");
  if (file == NULL) return 0;
  length = fread(content, 1, sizeof(content), file);
  fclose(file);
  return length == strlen(expected) && memcmp(content, expected, length) == 0;
}

static int Contains(const char* haystack, const char* needle) {
  return strstr(haystack, needle) != NULL;
}

static ROWFLUMEHandle CsvJob(const char* database, const char* query, const char* file) {
  char item[512];
  ROWFLUMEHandle handle = NULL;
  CHECK(ROWFLUMEHandleAlloc(&handle) == handle && handle != NULL);
  if (handle == NULL) exit(1);
  snprintf(item, sizeof(item), "user=scott/tiger@sqlite:%s", database);
  CHECK(ROWFLUMEHandleSetAttr(handle, item) == 1);
  snprintf(item, sizeof(item), "query=%s", query);
  CHECK(ROWFLUMEHandleSetAttr(handle, item) == 1);
  CHECK(ROWFLUMEHandleSetAttr(handle, "text=csv") == 1);
  snprintf(item, sizeof(item), "file=%s", file);
  CHECK(ROWFLUMEHandleSetAttr(handle, item) == 1);
  return handle;
}

/* Options, no-handle calls, and an unknown keyword leaving the job as it was. */
static void TestOptionsAndNoHandle(void) {
  struct Messages messages;
  ROWFLUMEHandle handle = CsvJob("items.db", "items", "options.csv");
  ResetMessages(&messages);
  CHECK(ROWFLUMEHandleSetAttr(handle, "unknown=1") == 0);
  CHECK(ROWFLUMEHandleSetAttr(handle, "TEXT=CSV") == 1);
  CHECK(ROWFLUMEHandleSetAttr(handle, NULL) == 0);
  CHECK(ROWFLUMEHandleCallback(handle, &messages, CollectMessage) == handle);
  CHECK(ROWFLUMEHandleExecute(handle) == ROWFLUME_OK);
  CHECK(FileEquals("options.csv", kItemsCsv));
  ROWFLUMEHandleFree(handle);

  CHECK(ROWFLUMEHandleSetAttr(NULL, "text=csv") == 0);
  CHECK(ROWFLUMEHandleCallback(NULL, &messages, CollectMessage) == NULL);
  CHECK(ROWFLUMEHandleExecute(NULL) == ROWFLUME_LOGON_FAILED);
  ROWFLUMEHandleFree(NULL);
  handle = ROWFLUMEHandleAlloc(NULL);
  CHECK(handle != NULL);
  ROWFLUMEHandleFree(handle);
}

/* One handle run twice, then again after a further option: the same bytes each time, and the
   callback hears the progress and close lines of every run. */
static void TestRunTwiceWithCallback(void) {
  struct Messages messages;
  ROWFLUMEHandle handle = CsvJob("items.db", "items", "twice.csv");
  ResetMessages(&messages);
  CHECK(ROWFLUMEHandleCallback(handle, &messages, CollectMessage) == handle);

  CHECK(ROWFLUMEHandleExecute(handle) == ROWFLUME_OK);
  CHECK(FileEquals("twice.csv", kItemsCsv));
  CHECK(Contains(messages.text, "3 rows exported"));
  CHECK(Contains(messages.text, "output file twice.csv closed at 3 rows"));
  CHECK(messages.other_thread_calls == 0);

  remove("twice.csv");
  ResetMessages(&messages);
  CHECK(ROWFLUMEHandleExecute(handle) == ROWFLUME_OK);
  CHECK(FileEquals("twice.csv", kItemsCsv));
  CHECK(Contains(messages.text, "output file twice.csv closed at 3 rows"));

  CHECK(ROWFLUMEHandleSetAttr(handle, "file=again.csv") == 1);
  CHECK(ROWFLUMEHandleExecute(handle) == ROWFLUME_OK);
  CHECK(FileEquals("again.csv", kItemsCsv));
  ROWFLUMEHandleFree(handle);
}

/* Failures come back as the job run's codes, each announced once through the callback. */
static void TestFailures(void) {
  struct Messages messages;
  ROWFLUMEHandle handle;
  CHECK(MakeDatabase("accounts.db",
                     "CREATE TABLE rowflume_accounts (username, password);"
                     "INSERT INTO rowflume_accounts VALUES ('scott', 'tiger');"
                     "CREATE TABLE T (X NUMBER);"));
  handle = CsvJob("accounts.db", "t", "refused.csv");
  CHECK(ROWFLUMEHandleSetAttr(handle, "user=scott/wrong@sqlite:accounts.db") == 1);
  ResetMessages(&messages);
  ROWFLUMEHandleCallback(handle, &messages, CollectMessage);
  CHECK(ROWFLUMEHandleExecute(handle) == ROWFLUME_LOGON_FAILED);
  CHECK(messages.calls == 1);
  CHECK(Contains(messages.text, "ORA-01017"));

  /* The right password on the same handle logs on, the missing table fails the query. */
  CHECK(ROWFLUMEHandleSetAttr(handle, "user=SCOTT/tiger@sqlite:accounts.db") == 1);
  CHECK(ROWFLUMEHandleSetAttr(handle, "query=select * from missing_table") == 1);
  ResetMessages(&messages);
  CHECK(ROWFLUMEHandleExecute(handle) == ROWFLUME_QUERY_FAILED);
  CHECK(messages.calls == 1);
  CHECK(Contains(messages.text, "ORA-00942"));
  ROWFLUMEHandleFree(handle);
}

/* A callback registered without context still gets a non-null one, on every call. */
static int null_context_calls = 0;
static int null_context_seen = 0;
static void CountNullContext(void* context, const char* text) {
  (void)text;
  ++null_context_calls;
  if (context == NULL) ++null_context_seen;
}

static void TestCallbackWithoutContext(void) {
  ROWFLUMEHandle handle = CsvJob("items.db", "items", "nocontext.csv");
  ROWFLUMEHandleCallback(handle, NULL, CountNullContext);
  CHECK(ROWFLUMEHandleExecute(handle) == ROWFLUME_OK);
  CHECK(null_context_calls >= 3); /* two progress lines and the close line */
  CHECK(null_context_seen == 0);
  ROWFLUMEHandleFree(handle);
}

/* Without a callback the messages go to the log file when one is set. */
static void TestDefaultMessagesToLog(void) {
  char log[4096];
  size_t length;
  FILE* file;
  ROWFLUMEHandle handle = CsvJob("items.db", "items", "logged.csv");
  CHECK(ROWFLUMEHandleSetAttr(handle, "log=logged.log") == 1);
  CHECK(ROWFLUMEHandleExecute(handle) == ROWFLUME_OK);
  ROWFLUMEHandleFree(handle);
  file = fopen("logged.log", "rb");
  CHECK(file != NULL);
  if (file == NULL) return;
  length = fread(log, 1, sizeof(log) - 1, file);
  fclose(file);
  log[length] = '\0';
  CHECK(Contains(log, "output file logged.csv closed at 3 rows"));
}

/* Two handles executed at the same time on two threads, each with its own file and callback. */
struct ThreadJob {
  ROWFLUMEHandle handle;
  struct Messages messages;
  int result;
};

static void* RunThreadJob(void* argument) {
  struct ThreadJob* job = (struct ThreadJob*)argument;
  ResetMessages(&job->messages);
  ROWFLUMEHandleCallback(job->handle, &job->messages, CollectMessage);
  job->result = ROWFLUMEHandleExecute(job->handle);
  return NULL;
}

static void TestTwoThreads(void) {
  static const char kDeptSql[] =
      "CREATE TABLE DEPT (DEPTNO NUMBER(2), DNAME VARCHAR2(14));"
      "INSERT INTO DEPT VALUES (10, 'ACCOUNTING');"
      "INSERT INTO DEPT VALUES (20, 'RESEARCH');";
  struct ThreadJob jobs[2];
  pthread_t threads[2];
  int i;
  CHECK(MakeDatabase("dept.db", kDeptSql));
  jobs[0].handle = CsvJob("items.db", "items", "thread_items.csv");
  jobs[1].handle = CsvJob("dept.db", "dept", "thread_dept.csv");
  for (i = 0; i < 2; ++i) CHECK(pthread_create(&threads[i], NULL, RunThreadJob, &jobs[i]) == 0);
  for (i = 0; i < 2; ++i) pthread_join(threads[i], NULL);
  for (i = 0; i < 2; ++i) {
    CHECK(jobs[i].result == ROWFLUME_OK);
    CHECK(jobs[i].messages.calls >= 3);
    CHECK(jobs[i].messages.other_thread_calls == 0);
    ROWFLUMEHandleFree(jobs[i].handle);
  }
  CHECK(FileEquals("thread_items.csv", kItemsCsv));
  CHECK(FileEquals("thread_dept.csv", "DEPTNO,DNAME\n10,\"ACCOUNTING\"\n20,\"RESEARCH\"\n"));
  CHECK(Contains(jobs[0].messages.text, "thread_items.csv closed at 3 rows"));
  CHECK(Contains(jobs[1].messages.text, "thread_dept.csv closed at 2 rows"));
}

int main(void) {
  if (!MakeDatabase("items.db", kItemsSql)) {
    fprintf(stderr, "cannot create items.db\n");
    return 1;
  }
  TestOptionsAndNoHandle();
  TestRunTwiceWithCallback();
  TestFailures();
  TestCallbackWithoutContext();
  TestDefaultMessagesToLog();
  TestTwoThreads();
  if (failures != 0) {
    fprintf(stderr, "%d checks failed\n", failures);
    return 1;
  }
  printf("all library checks passed\n");
  return 0;
}
