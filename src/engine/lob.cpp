// LOB and BFILE locators of the embedded engine: opening, closing and reading (at once, piece by
// piece or through a callback) the value a locator was fetched with.
#include <cstring>

#include "engine/engine.h"
#include "engine/errors.h"
#include "engine/handles.h"

namespace rowflume::engine {
namespace {

// Stream reader for BFILE/LOB polling reads; returns the status of the piece just delivered.
sword DeliverPiece(Lob* lob, ub4* amtp, void* bufp, ub4 bufl) {
  size_t remaining = lob->poll_end - lob->poll_pos;
  size_t piece = remaining < bufl ? remaining : bufl;
  if (piece > 0) std::memcpy(bufp, lob->data.data() + lob->poll_pos, piece);
  lob->poll_pos += piece;
  *amtp = static_cast<ub4>(piece);
  if (lob->poll_pos < lob->poll_end) {
    lob->polling = true;
    return OCI_NEED_DATA;
  }
  lob->polling = false;
  return OCI_SUCCESS;
}

}  // namespace

sword LobOpen(OCISvcCtx* /*svchp*/, OCIError* errhp, OCILobLocator* locp, ub1 /*mode*/) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  Lob* lob = CastLob(locp);
  if (lob == nullptr || error == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (!lob->has_value) return Fail(error, ora::kInvalidLobLocator);
  if (lob->is_open) return Fail(error, ora::kLobAlreadyOpen);
  lob->is_open = true;
  lob->polling = false;
  return OCI_SUCCESS;
}

sword LobClose(OCISvcCtx* /*svchp*/, OCIError* errhp, OCILobLocator* locp) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  Lob* lob = CastLob(locp);
  if (lob == nullptr || error == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (!lob->is_open) {
    return Fail(error, ora::kLobNotOpen);
  }
  lob->is_open = false;
  lob->polling = false;
  return OCI_SUCCESS;
}

sword LobRead(OCISvcCtx* /*svchp*/, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset,
              void* bufp, ub4 bufl, void* ctxp,
              sb4 (*cbfp)(void* ctxp, const void* bufp, ub4 len, ub1 piece), ub2 /*csid*/,
              ub1 csfrm) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  Lob* lob = CastLob(locp);
  if (lob == nullptr || error == nullptr || amtp == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (!lob->has_value) return Fail(error, ora::kInvalidLobLocator);
  if (bufp == nullptr || bufl == 0) return Fail(error, ora::kIllegalLobParameter);
  // A character LOB is read under its own form, form 0 standing for the database set's; binary
  // LOBs have none to compare.
  constexpr ub1 kImplicitForm = 1;
  const ub1 form = csfrm == 0 ? kImplicitForm : csfrm;
  if (lob->charset_form != 0 && form != lob->charset_form) {
    return Fail(error, ora::kLobFormMismatch);
  }
  // While a piecewise read runs, later calls continue it whatever their offset says.
  if (lob->polling) return DeliverPiece(lob, amtp, bufp, bufl);
  if (offset == 0) return Fail(error, ora::kIllegalLobParameter);
  size_t size = lob->data.size();
  size_t start = offset - 1;
  if (start > size) start = size;
  size_t end = size;
  if (*amtp != 0 && start + *amtp < end) end = start + *amtp;
  lob->poll_pos = start;
  lob->poll_end = end;
  // Nothing to deliver (an empty LOB, or an offset past the end): the client says no data.
  if (start >= end) {
    *amtp = 0;
    Fail(error, ora::kNoDataFound);
    return OCI_NO_DATA;
  }
  if (cbfp == nullptr) return DeliverPiece(lob, amtp, bufp, bufl);
  // Callback mode: every piece goes to the callback; the call returns when all are delivered.
  constexpr ub1 kOnePiece = 0;
  constexpr ub1 kFirstPiece = 1;
  constexpr ub1 kNextPiece = 2;
  constexpr ub1 kLastPiece = 3;
  ub4 total = 0;
  bool first = true;
  for (;;) {
    ub4 piece = 0;
    sword status = DeliverPiece(lob, &piece, bufp, bufl);
    total += piece;
    ub1 kind = status == OCI_NEED_DATA ? (first ? kFirstPiece : kNextPiece)
                                       : (first ? kOnePiece : kLastPiece);
    first = false;
    if (cbfp(ctxp, bufp, piece, kind) != 0) {
      lob->polling = false;
      *amtp = total;
      return Fail(error, ora::kCallbackError);
    }
    if (status != OCI_NEED_DATA) break;
  }
  *amtp = total;
  return OCI_SUCCESS;
}

}  // namespace rowflume::engine
