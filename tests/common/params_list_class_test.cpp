// Lists and items reach module-specific code only through their class
// references; these tests give a list a derived class and check that every
// overridable operation is dispatched through it, including during
// destruction, and that a dead list is refused.
#include <gtest/gtest.h>

#include <vector>

#include "common/exceptions.h"
#include "common/params_list.h"

using namespace corvane;
using platform::OleVariant;

namespace {

struct Recorder {
  int itemsMade = 0;
  int itemsDestroyed = 0;
  int copies = 0;
  int clears = 0;
  std::vector<uint32_t> signatureAtClear;
};
Recorder recorder;

class CountingItem : public TkivParamsListItem {
 public:
  static const TkivParamsListItemClass Class;

 private:
  using TkivParamsListItem::TkivParamsListItem;
  static TkivParamsListItem* CV_STDCALL Make(const TkivParamsListItemClass* c) {
    ++recorder.itemsMade;
    return CreateInstance(c);
  }
  static void CV_STDCALL Unmake(TkivParamsListItem* item) {
    ++recorder.itemsDestroyed;
    DestroyInstance(item);
  }
};
const TkivParamsListItemClass CountingItem::Class = {"TCountingItem", &TkivParamsListItem::Class,
                                                     &CountingItem::Make, &CountingItem::Unmake};

class RecordingList : public TkivParamsList {
 public:
  static const TkivParamsListClass Class;

 private:
  using TkivParamsList::TkivParamsList;
  static void CV_STDCALL ClearRecorded(TkivParamsList* list) {
    ++recorder.clears;
    recorder.signatureAtClear.push_back(list->Signature());
    ClearInstance(list);
  }
  static TkivParamsListItem* CV_STDCALL CopyRecorded(TkivParamsList* list, const TkivParamsListItem* source,
                                                     bool* failed) {
    ++recorder.copies;
    return AddItemCopyInstance(list, source, failed);
  }
};
const TkivParamsListClass RecordingList::Class = {
    "TRecordingList", &TkivParamsList::Class, TkivParamsList::Class.Grow, TkivParamsList::Class.Notify,
    &RecordingList::ClearRecorded, TkivParamsList::Class.Create, &RecordingList::CopyRecorded,
    TkivParamsList::Class.AddItemFromInterface, TkivParamsList::Class.Destroy};

}  // namespace

TEST(ParamsListClass, OperationsGoThroughTheObjectsClass) {
  recorder = {};
  {
    auto list = TkivParamsList::Create(&RecordingList::Class);
    list->SetItemClass(&CountingItem::Class);
    EXPECT_TRUE(list->InheritsFrom(&TkivParamsList::Class));
    EXPECT_FALSE(TkivParamsList::Create()->InheritsFrom(&RecordingList::Class));
    list->AddItem("a", OleVariant::fromI4(1).raw());
    list->AddItem("b", OleVariant::fromI4(2).raw());
    EXPECT_EQ(list->Items(0)->ClassRef(), &CountingItem::Class);
    list->CopyFrom(list.get());
    EXPECT_EQ(recorder.copies, 2);
    EXPECT_EQ(recorder.itemsMade, 4);
    list->Delete(0);
    EXPECT_EQ(recorder.itemsDestroyed, 1);
    list->Clear();
    EXPECT_EQ(recorder.clears, 1);
    EXPECT_EQ(recorder.itemsDestroyed, 4);
    list->AddItem("c", OleVariant::fromI4(3).raw());
  }
  EXPECT_EQ(recorder.itemsDestroyed, 5) << "destruction frees the remaining item through its class";
  ASSERT_EQ(recorder.signatureAtClear.size(), 2u);
  EXPECT_EQ(recorder.signatureAtClear[0], ParamsListSignature);
  EXPECT_EQ(recorder.signatureAtClear[1], 0u) << "the signature is gone once destruction begins";
}

TEST(ParamsListClass, AListWithoutTheSignatureIsRefused) {
  // A block that looks like a list but carries no live signature, as a host
  // would hand over a list being destroyed.
  auto live = TkivParamsList::Create();
  live->AddItem("x", OleVariant::fromI4(1).raw());
  alignas(8) unsigned char dead[sizeof(void*) * 8] = {};
  EXPECT_FALSE(TkivParamsList::HasSignature(dead));
  EXPECT_FALSE(TkivParamsList::HasSignature(nullptr));
  EXPECT_TRUE(TkivParamsList::HasSignature(live.get()));
  auto target = TkivParamsList::Create();
  EXPECT_THROW(target->CopyFrom(reinterpret_cast<const TkivParamsList*>(dead)), EAssertionFailed);
  EXPECT_THROW(reinterpret_cast<const TkivParamsList*>(dead)->ItemIndexByName("x"), EAssertionFailed);
}
