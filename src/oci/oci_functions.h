// The one list of the client functions this program calls, with the C signatures of the client
// library. Everything that names them (the function table and its types, the run-time loader,
// the embedded engine's declarations and table, the stand-in library's exports, the test fake)
// is generated from this list, so adding a call is one edit and no two lists can disagree.
//
// ROWFLUME_OCI_FUNCTIONS(X) expands X(result, Name, (parameters), (arguments)) once per
// function, in the order of the table; the client library exports each as OCI<Name>. Include
// this header through oci/oci_api.h, which declares the types the signatures use.
#pragma once

// clang-format off
#define ROWFLUME_OCI_FUNCTIONS(X)                                                                  \
  X(sword, EnvNlsCreate,                                                                           \
    (OCIEnv** envhpp, ub4 mode, void* ctxp, void* (*malocfp)(void* ctxp, size_t size),             \
     void* (*ralocfp)(void* ctxp, void* memptr, size_t newsize),                                   \
     void (*mfreefp)(void* ctxp, void* memptr), size_t xtramem_sz, void** usrmempp, ub2 charset,   \
     ub2 ncharset),                                                                                \
    (envhpp, mode, ctxp, malocfp, ralocfp, mfreefp, xtramem_sz, usrmempp, charset, ncharset))      \
  X(ub2, NlsCharSetNameToId, (void* envhp, const OraText* name), (envhp, name))                   \
  X(sword, HandleAlloc,                                                                            \
    (const void* parenth, void** hndlpp, ub4 type, size_t xtramem_sz, void** usrmempp),            \
    (parenth, hndlpp, type, xtramem_sz, usrmempp))                                                 \
  X(sword, HandleFree, (void* hndlp, ub4 type), (hndlp, type))                                     \
  X(sword, DescriptorAlloc,                                                                        \
    (const void* parenth, void** descpp, ub4 type, size_t xtramem_sz, void** usrmempp),            \
    (parenth, descpp, type, xtramem_sz, usrmempp))                                                 \
  X(sword, ServerAttach,                                                                           \
    (OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblink_len, ub4 mode),          \
    (srvhp, errhp, dblink, dblink_len, mode))                                                      \
  X(sword, ServerDetach, (OCIServer* srvhp, OCIError* errhp, ub4 mode), (srvhp, errhp, mode))      \
  X(sword, AttrSet,                                                                                \
    (void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size, ub4 attrtype, OCIError* errhp),  \
    (trgthndlp, trghndltyp, attributep, size, attrtype, errhp))                                    \
  X(sword, AttrGet,                                                                                \
    (const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype,            \
     OCIError* errhp),                                                                             \
    (trgthndlp, trghndltyp, attributep, sizep, attrtype, errhp))                                   \
  X(sword, SessionBegin,                                                                           \
    (OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4 mode),                   \
    (svchp, errhp, usrhp, credt, mode))                                                            \
  X(sword, SessionEnd, (OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 mode),           \
    (svchp, errhp, usrhp, mode))                                                                   \
  X(sword, StmtPrepare,                                                                            \
    (OCIStmt* stmtp, OCIError* errhp, const OraText* stmt, ub4 stmt_len, ub4 language, ub4 mode),  \
    (stmtp, errhp, stmt, stmt_len, language, mode))                                                \
  X(sword, StmtExecute,                                                                            \
    (OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 rowoff,                     \
     const OCISnapshot* snap_in, OCISnapshot* snap_out, ub4 mode),                                 \
    (svchp, stmtp, errhp, iters, rowoff, snap_in, snap_out, mode))                                 \
  X(sword, BindByName,                                                                             \
    (OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, const OraText* placeholder,                 \
     sb4 placeh_len, void* valuep, sb4 value_sz, ub2 dty, void* indp, ub2* alenp, ub2* rcodep,     \
     ub4 maxarr_len, ub4* curelep, ub4 mode),                                                      \
    (stmtp, bindp, errhp, placeholder, placeh_len, valuep, value_sz, dty, indp, alenp, rcodep,     \
     maxarr_len, curelep, mode))                                                                   \
  X(sword, ParamGet, (const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp, ub4 pos),     \
    (hndlp, htype, errhp, parmdpp, pos))                                                           \
  X(sword, DefineByPos,                                                                            \
    (OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp, ub4 position, void* valuep,               \
     sb4 value_sz, ub2 dty, void* indp, ub2* rlenp, ub2* rcodep, ub4 mode),                        \
    (stmtp, defnp, errhp, position, valuep, value_sz, dty, indp, rlenp, rcodep, mode))             \
  X(sword, StmtFetch, (OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, ub4 mode),     \
    (stmtp, errhp, nrows, orientation, mode))                                                      \
  X(sword, LobOpen, (OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub1 mode),            \
    (svchp, errhp, locp, mode))                                                                    \
  X(sword, LobRead,                                                                                \
    (OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset, void* bufp,    \
     ub4 bufl, void* ctxp, sb4 (*cbfp)(void* ctxp, const void* bufp, ub4 len, ub1 piece),          \
     ub2 csid, ub1 csfrm),                                                                         \
    (svchp, errhp, locp, amtp, offset, bufp, bufl, ctxp, cbfp, csid, csfrm))                       \
  X(sword, LobClose, (OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp),                     \
    (svchp, errhp, locp))                                                                          \
  X(sword, ErrorGet,                                                                               \
    (void* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep, OraText* bufp, ub4 bufsiz,       \
     ub4 type),                                                                                    \
    (hndlp, recordno, sqlstate, errcodep, bufp, bufsiz, type))
// clang-format on
