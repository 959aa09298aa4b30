/* Compiled on every target as strict C99 with all warnings as errors: the
 * host header must stay usable from plain C, whatever the compiler. */
#include "corvane_host.h"

int corvane_header_c99_check(corvane_call_record* record);

int corvane_header_c99_check(corvane_call_record* record) {
  corvane_variant value;
  value.vt = CORVANE_VT_I4;
  value.u.lVal = CORVANE_RESULT_OK;
  record->RecordSize = CORVANE_CALL_RECORD_SIZE;
  record->RoleFlags = CORVANE_ROLE_PARSER;
  record->OutputItem.Type = CORVANE_ITEM_LIST_INTERFACE;
  return value.u.lVal;
}
