// The shared layout of parameter-list and item objects, checked at compile
// time. 32-bit offsets are the ones hosts rely on; on 64-bit targets only the
// address-holding fields widen (class reference, item array, string
// references, item class) and the fields after them move accordingly.
#include <cstddef>

#include "common/params_list.h"

namespace corvane {

struct ParamsListLayout {
  static_assert(std::is_standard_layout_v<TkivParamsList>);
  static_assert(std::is_standard_layout_v<TkivParamsListItem>);
#if defined(__i386__) || defined(_M_IX86)
  static_assert(offsetof(TkivParamsList, classRef_) == 0);
  static_assert(offsetof(TkivParamsList, items_) == 4);
  static_assert(offsetof(TkivParamsList, count_) == 8);
  static_assert(offsetof(TkivParamsList, capacity_) == 12);
  static_assert(offsetof(TkivParamsList, signature_) == 16);
  static_assert(offsetof(TkivParamsList, listId_) == 20);
  static_assert(offsetof(TkivParamsList, tag_) == 24);
  static_assert(offsetof(TkivParamsList, itemClass_) == 28);
  static_assert(sizeof(TkivParamsList) == 32);

  static_assert(offsetof(TkivParamsListItem, classRef_) == 0);
  static_assert(offsetof(TkivParamsListItem, name_) == 4);
  static_assert(offsetof(TkivParamsListItem, lowerName_) == 8);
  static_assert(offsetof(TkivParamsListItem, dataType_) == 12);
  static_assert(offsetof(TkivParamsListItem, quality_) == 16);
  static_assert(offsetof(TkivParamsListItem, value_) == 24);
  static_assert(sizeof(TkivParamsListItem) == 40);
#else
  static_assert(offsetof(TkivParamsList, classRef_) == 0);
  static_assert(offsetof(TkivParamsList, items_) == 8);
  static_assert(offsetof(TkivParamsList, count_) == 16);
  static_assert(offsetof(TkivParamsList, capacity_) == 20);
  static_assert(offsetof(TkivParamsList, signature_) == 24);
  static_assert(offsetof(TkivParamsList, listId_) == 32);
  static_assert(offsetof(TkivParamsList, tag_) == 40);
  static_assert(offsetof(TkivParamsList, itemClass_) == 48);
  static_assert(sizeof(TkivParamsList) == 56);

  static_assert(offsetof(TkivParamsListItem, classRef_) == 0);
  static_assert(offsetof(TkivParamsListItem, name_) == 8);
  static_assert(offsetof(TkivParamsListItem, lowerName_) == 16);
  static_assert(offsetof(TkivParamsListItem, dataType_) == 24);
  static_assert(offsetof(TkivParamsListItem, quality_) == 28);
  static_assert(offsetof(TkivParamsListItem, value_) == 32);
  static_assert(sizeof(TkivParamsListItem) == 56);
#endif
};

}  // namespace corvane
