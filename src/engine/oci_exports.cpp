// The embedded engine under the client library's own function names, for the stand-in client
// library. Only these 21 functions are visible outside the library.
#include "engine/engine.h"

#define ROWFLUME_EXPORT extern "C" __attribute__((visibility("default")))

using rowflume::OCIBind;
using rowflume::OCIDefine;
using rowflume::OCIEnv;
using rowflume::OCIError;
using rowflume::OCILobLocator;
using rowflume::OCIServer;
using rowflume::OCISession;
using rowflume::OCISnapshot;
using rowflume::OCIStmt;
using rowflume::OCISvcCtx;
using rowflume::OraText;
using rowflume::sb4;
using rowflume::sword;
using rowflume::ub1;
using rowflume::ub2;
using rowflume::ub4;
namespace engine = rowflume::engine;

ROWFLUME_EXPORT sword OCIEnvNlsCreate(OCIEnv** envhpp, ub4 mode, void* ctxp,
                                      void* (*malocfp)(void*, size_t),
                                      void* (*ralocfp)(void*, void*, size_t),
                                      void (*mfreefp)(void*, void*), size_t xtramem_sz,
                                      void** usrmempp, ub2 charset, ub2 ncharset) {
  return engine::EnvNlsCreate(envhpp, mode, ctxp, malocfp, ralocfp, mfreefp, xtramem_sz, usrmempp,
                              charset, ncharset);
}

ROWFLUME_EXPORT ub2 OCINlsCharSetNameToId(void* envhp, const OraText* name) {
  return engine::NlsCharSetNameToId(envhp, name);
}

ROWFLUME_EXPORT sword OCIHandleAlloc(const void* parenth, void** hndlpp, const ub4 type,
                                     const size_t xtramem_sz, void** usrmempp) {
  return engine::HandleAlloc(parenth, hndlpp, type, xtramem_sz, usrmempp);
}

ROWFLUME_EXPORT sword OCIHandleFree(void* hndlp, const ub4 type) {
  return engine::HandleFree(hndlp, type);
}

ROWFLUME_EXPORT sword OCIDescriptorAlloc(const void* parenth, void** descpp, const ub4 type,
                                         const size_t xtramem_sz, void** usrmempp) {
  return engine::DescriptorAlloc(parenth, descpp, type, xtramem_sz, usrmempp);
}

ROWFLUME_EXPORT sword OCIServerAttach(OCIServer* srvhp, OCIError* errhp, const OraText* dblink,
                                      sb4 dblink_len, ub4 mode) {
  return engine::ServerAttach(srvhp, errhp, dblink, dblink_len, mode);
}

ROWFLUME_EXPORT sword OCIServerDetach(OCIServer* srvhp, OCIError* errhp, ub4 mode) {
  return engine::ServerDetach(srvhp, errhp, mode);
}

ROWFLUME_EXPORT sword OCIAttrSet(void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size,
                                 ub4 attrtype, OCIError* errhp) {
  return engine::AttrSet(trgthndlp, trghndltyp, attributep, size, attrtype, errhp);
}

ROWFLUME_EXPORT sword OCIAttrGet(const void* trgthndlp, ub4 trghndltyp, void* attributep,
                                 ub4* sizep, ub4 attrtype, OCIError* errhp) {
  return engine::AttrGet(trgthndlp, trghndltyp, attributep, sizep, attrtype, errhp);
}

ROWFLUME_EXPORT sword OCISessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp,
                                      ub4 credt, ub4 mode) {
  return engine::SessionBegin(svchp, errhp, usrhp, credt, mode);
}

ROWFLUME_EXPORT sword OCISessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp,
                                    ub4 mode) {
  return engine::SessionEnd(svchp, errhp, usrhp, mode);
}

ROWFLUME_EXPORT sword OCIStmtPrepare(OCIStmt* stmtp, OCIError* errhp, const OraText* stmt,
                                     ub4 stmt_len, ub4 language, ub4 mode) {
  return engine::StmtPrepare(stmtp, errhp, stmt, stmt_len, language, mode);
}

ROWFLUME_EXPORT sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters,
                                     ub4 rowoff, const OCISnapshot* snap_in, OCISnapshot* snap_out,
                                     ub4 mode) {
  return engine::StmtExecute(svchp, stmtp, errhp, iters, rowoff, snap_in, snap_out, mode);
}

ROWFLUME_EXPORT sword OCIBindByName(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp,
                                    const OraText* placeholder, sb4 placeh_len, void* valuep,
                                    sb4 value_sz, ub2 dty, void* indp, ub2* alenp, ub2* rcodep,
                                    ub4 maxarr_len, ub4* curelep, ub4 mode) {
  return engine::BindByName(stmtp, bindp, errhp, placeholder, placeh_len, valuep, value_sz, dty,
                            indp, alenp, rcodep, maxarr_len, curelep, mode);
}

ROWFLUME_EXPORT sword OCIParamGet(const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp,
                                  ub4 pos) {
  return engine::ParamGet(hndlp, htype, errhp, parmdpp, pos);
}

ROWFLUME_EXPORT sword OCIDefineByPos(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp,
                                     ub4 position, void* valuep, sb4 value_sz, ub2 dty, void* indp,
                                     ub2* rlenp, ub2* rcodep, ub4 mode) {
  return engine::DefineByPos(stmtp, defnp, errhp, position, valuep, value_sz, dty, indp, rlenp,
                             rcodep, mode);
}

ROWFLUME_EXPORT sword OCIStmtFetch(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation,
                                   ub4 mode) {
  return engine::StmtFetch(stmtp, errhp, nrows, orientation, mode);
}

ROWFLUME_EXPORT sword OCILobOpen(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub1 mode) {
  return engine::LobOpen(svchp, errhp, locp, mode);
}

ROWFLUME_EXPORT sword OCILobRead(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp,
                                 ub4 offset, void* bufp, ub4 bufl, void* ctxp,
                                 sb4 (*cbfp)(void* ctxp, const void* bufp, ub4 len, ub1 piece),
                                 ub2 csid, ub1 csfrm) {
  return engine::LobRead(svchp, errhp, locp, amtp, offset, bufp, bufl, ctxp, cbfp, csid, csfrm);
}

ROWFLUME_EXPORT sword OCILobClose(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp) {
  return engine::LobClose(svchp, errhp, locp);
}

ROWFLUME_EXPORT sword OCIErrorGet(void* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep,
                                  OraText* bufp, ub4 bufsiz, ub4 type) {
  return engine::ErrorGet(hndlp, recordno, sqlstate, errcodep, bufp, bufsiz, type);
}
