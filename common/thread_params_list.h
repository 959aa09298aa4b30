// TkivThreadParamsList: a parameter list shared between threads, reached only
// between the lock calls of its lockable base.
#pragma once

#include "common/params_list.h"
#include "common/thread_object.h"

namespace corvane {

class TkivThreadParamsList : public TThreadObject {
 public:
  TkivThreadParamsList() : list_(TkivParamsList::Create()) { SetGuarded(list_.get()); }

  TkivParamsList* LockRead() { return static_cast<TkivParamsList*>(TThreadObject::LockRead()); }
  TkivParamsList* LockWrite() { return static_cast<TkivParamsList*>(TThreadObject::LockWrite()); }

 private:
  ParamsListPtr list_;
};

}  // namespace corvane
