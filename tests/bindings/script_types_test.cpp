// The script types with a real Python runtime: parameter lists and their
// items, the receive buffer, VarParam holders, the wrapper machinery's
// shared members and services, and script objects that outlive their
// native objects.
#include <gtest/gtest.h>

#include <memory>

#include "bindings/native_class.h"
#include "bindings/params_list_type.h"
#include "bindings/python_module.h"
#include "bindings/wrapper.h"
#include "common/fifo_stream.h"
#include "common/params_list.h"
#include "python/python_test_support.h"

namespace corvane::py {
namespace {

using platform::OleVariant;

constexpr const char* kHelpers[] = {
    "import plugin",
    "def _ev(code):",
    "    try:",
    "        return repr(eval(code, globals()))",
    "    except BaseException as e:",
    "        return type(e).__name__ + ': ' + str(e)",
    "def _run(code):",
    "    try:",
    "        exec(code, globals())",
    "    except BaseException as e:",
    "        return type(e).__name__ + ': ' + str(e)",
    "    return 'ok'",
};

// One interpreter for the suite, with the script module and the wrapper
// component set up as the script host sets them up.
class ScriptTypes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!testing::TestRuntime()) return;
    shared_ = std::make_unique<Shared>();
  }
  static void TearDownTestSuite() { shared_.reset(); }
  void SetUp() override {
    CORVANE_REQUIRE_PYTHON();
    scope_ = std::make_unique<TWrapScope>();
  }
  void TearDown() override {
    if (!shared_) return;
    scope_.reset();
    Run("for _name in [n for n in globals() if not n.startswith('_') and n != 'plugin']: del globals()[_name]");
  }

  struct Shared {
    Shared() : engine(std::vector<std::string>(std::begin(kHelpers), std::end(kHelpers))) {
      wrapper.SetModule(module);
      wrapper.OnInitialization = [](TPyDelphiWrapper& w) { RegisterExtendedListWrappers(w); };
      engine.engine.AddClient(module);
      engine.engine.AddClient(wrapper);
      engine.engine.LoadDll();
    }
    // Destroyed after the engine, as the script host destroys them.
    TPythonModule module{"plugin"};
    TPyDelphiWrapper wrapper;
    testing::TestEngine engine;
  };

  TPythonEngine& engine() { return shared_->engine.engine; }
  TPyDelphiWrapper& wrapper() { return shared_->wrapper; }
  std::string Eval(const std::string& code) { return shared_->engine.CallText("_ev", {code}); }
  std::string Run(const std::string& code) { return shared_->engine.CallText("_run", {code}); }
  // Makes a native object a global of the script, lent for this test.
  template <class Native>
  void Lend(const char* name, Native* object) {
    Object wrapped = wrapper().Wrap(NativeObject(object), *scope_);
    PyObject* main = engine().Api().PyImport_AddModule("__main__");
    ASSERT_EQ(engine().Api().PyObject_SetAttrString(main, name, wrapped.ptr()), 0);
  }
  const std::vector<std::string>& Output() { return shared_->engine.output; }

  static ParamsListPtr ListOf(std::initializer_list<std::pair<const char*, int>> items) {
    ParamsListPtr list = TkivParamsList::Create();
    for (const auto& [name, value] : items) list->AddItem(name, OleVariant::fromI4(value).raw());
    return list;
  }

  static inline std::unique_ptr<Shared> shared_;
  std::unique_ptr<TWrapScope> scope_;
};

// ---- Parameter lists ------------------------------------------------------------------

TEST_F(ScriptTypes, ListMethodsWorkOnTheNativeList) {
  ParamsListPtr list = TkivParamsList::Create();
  Lend("lst", list.get());
  EXPECT_EQ(Eval("lst.AddItem('  ', 1)"), "None");  // a blank name adds nothing
  EXPECT_EQ(Eval("lst.Count"), "0");
  EXPECT_EQ(Eval("lst.AddItem('a', 1)"), "(a, 1)");
  EXPECT_EQ(Eval("lst.AddItem(b'B', 'text').Value"), "'text'");
  EXPECT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Items(1)->Name().str(), "B");

  EXPECT_EQ(Eval("lst.ItemValueByName('b')"), "'text'");  // names compare case-insensitively
  EXPECT_EQ(Eval("lst.ItemValueByName('missing')"), "None");
  EXPECT_EQ(Eval("lst.ItemValueByNameDef('missing', 5)"), "5");
  EXPECT_EQ(Eval("lst.ItemIndexByName('B')"), "1");
  EXPECT_EQ(Eval("lst.ItemIndexByName('a', 1)"), "-1");
  EXPECT_EQ(Eval("lst.ItemByName('missing')"), "None");

  EXPECT_EQ(Eval("lst.SetItem('new', 3)"), "None");
  EXPECT_EQ(Eval("(lambda i: (i.Value, i.Quality))(lst.SetItem('new', 3, 1))"), "(3, 2)");
  EXPECT_EQ(list->Items(2)->ValueRef().vt, platform::vtI8);  // a Python int is a 64-bit integer

  EXPECT_EQ(Eval("lst.InsertItem(0, 'first', 2.5).Name"), "'first'");
  EXPECT_EQ(Eval("lst.InsertItem(9, 'x', 1)"), "RuntimeError: List index out of bounds (9)");
  EXPECT_EQ(Eval("lst.Delete(99)"), "None");
  EXPECT_EQ(Eval("lst.Count"), "4");
  EXPECT_EQ(Eval("lst.Delete(0) or lst.Count"), "3");

  EXPECT_EQ(Eval("lst.CopyFrom(lst) or lst.Count"), "6");  // itself: doubled once
  EXPECT_EQ(Eval("lst.CopyFrom(None) or lst.Count"), "6");
  EXPECT_EQ(Eval("lst.CopyFrom(5)"),
            "AttributeError: The first argument of CopyFrom must be an object of class TkivParamsList");
  EXPECT_EQ(Eval("lst.CopyFrom(lst[0])"),
            "AttributeError: The first argument of CopyFrom must be an object of class TkivParamsList, not "
            "TkivParamsListItem");
  EXPECT_EQ(Eval("lst.AddItemCopy(lst[0]).Name"), "'a'");
  EXPECT_EQ(Eval("lst.AddItemCopy(None)"), "None");
  EXPECT_EQ(Eval("lst.AddItemCopy(lst)"),
            "AttributeError: The first argument of AddItemCopy must be an object of class TkivParamsListItem, not "
            "TkivParamsList");
  EXPECT_EQ(Eval("lst.Clear() or lst.Count"), "0");

  // Argument lists are checked by the runtime's own parser.
  EXPECT_EQ(Eval("lst.AddItem('a')"), "TypeError: AddItem() takes exactly 2 arguments (1 given)");
  EXPECT_EQ(Eval("lst.Delete('x')"), "TypeError: 'str' object cannot be interpreted as an integer");
  EXPECT_EQ(Eval("lst.AddItem(5, 1)"), "TypeError: expected a str or bytes object");
  // The parser's own text, which names C long where that is 32 bits wide.
  EXPECT_TRUE(Eval("lst.ItemIndexByName('a', 0, 2**40)").starts_with("OverflowError: "));
  EXPECT_EQ(Eval("lst.ItemIndexByName('a', 0, 1, 2)"), "TypeError: ItemIndexByName() takes at most 3 arguments (4 given)");
  EXPECT_EQ(Eval("lst.AddItem('a', 1) and lst.AddItem('b', 2) and lst.ItemIndexByName('b', True)"), "1");  // bool is an int
  EXPECT_EQ(Eval("lst.SetItem('c', 3, 256)"), "OverflowError: unsigned byte integer is greater than maximum");
}

TEST_F(ScriptTypes, RowsAndFindRowWithVarParamHolders) {
  ParamsListPtr list = TkivParamsList::Create();
  Lend("lst", list.get());
  EXPECT_EQ(Run("lst.NewRow()"), "ok");
  EXPECT_EQ(Eval("(lst[0].Name, lst[0].DataType, lst[0].Value)"), "('$NEW_ROW$', 65281, None)");

  EXPECT_EQ(Run("lst.Clear(); lst.AddItem('a', 1); lst.NewRow(); lst.AddItem('b', 2)\n"
                "a = plugin.CreateVarParam(0); b = plugin.CreateVarParam(False)"),
            "ok");
  EXPECT_EQ(Eval("(lst.FindRow(0, a, b), a.Value, b.Value)"), "(True, 1, True)");
  EXPECT_EQ(Eval("(lst.FindRow(2, a, b), a.Value, b.Value)"), "(True, 2, False)");
  EXPECT_EQ(Eval("(lst.FindRow(3, a, b), a.Value, b.Value)"), "(False, 2, False)");
  EXPECT_EQ(Run("a.Value = '7'; b.Value = 1"), "ok");
  EXPECT_EQ(Eval("(lst.FindRow(3, a, b), a.Value, b.Value)"), "(False, 7, True)");  // read back as int and bool
  EXPECT_EQ(Eval("lst.FindRow(0, plugin.CreateVarParam(), b)").substr(0, 10), "TypeError:");
  EXPECT_EQ(Eval("lst.FindRow(0, 0, b)"), "TypeError: FindRow expects VarParam objects as its second and third arguments");
  EXPECT_EQ(Eval("lst.ItemIndexByName('b', 2, -2)"), "2");  // the row starting at 2
}

TEST_F(ScriptTypes, ListsBehaveAsReadOnlySequences) {
  ParamsListPtr list = ListOf({{"a", 1}, {"b", 2}, {"c", 3}});
  ParamsListPtr other = ListOf({{"a", 1}});
  Lend("lst", list.get());
  Lend("other", other.get());
  EXPECT_EQ(Eval("len(lst)"), "3");
  EXPECT_EQ(Eval("lst[-1].Name"), "'c'");
  EXPECT_EQ(Eval("lst[3]"), "IndexError: Index \"3\" out of range");
  EXPECT_EQ(Eval("lst.Items[3]"), "IndexError: Index \"3\" out of range");
  EXPECT_EQ(Eval("[i.Name for i in lst]"), "['a', 'b', 'c']");
  EXPECT_EQ(Eval("[i.Value for i in lst.Items]"), "[1, 2, 3]");
  EXPECT_EQ(Eval("len(lst.Items)"), "3");
  EXPECT_EQ(Eval("lst.ToTuple()"), "((a, 1), (b, 2), (c, 3))");
  EXPECT_EQ(Eval("lst.ToList()[1]"), "(b, 2)");

  // Membership is identity of the native item, not equal names or values.
  EXPECT_EQ(Eval("(lst[0] in lst, lst[0] in lst.Items, other[0] in lst, 5 in lst)"), "(True, True, False, False)");
  EXPECT_EQ(Run("lst[0] = lst[1]"), "TypeError: 'plugin.kivParamsList' object does not support item assignment");
  EXPECT_EQ(Run("lst.Items[0] = lst[1]"),
            "SystemError: Container TkivParamsList.Items does not support indexed write (f[i] = x)");
  EXPECT_TRUE(Eval("repr(lst.Items)").starts_with("'<Container access TkivParamsList.Items at "));

  // Iteration reads the count at every step: appended items are visited.
  EXPECT_EQ(Run("names = []\nfor i in lst:\n  names.append(i.Name)\n  if len(names) < 5: lst.AddItem('n%d' % len(names), 0)"),
            "ok");
  EXPECT_EQ(Eval("names"), "['a', 'b', 'c', 'n1', 'n2', 'n3', 'n4']");
}

TEST_F(ScriptTypes, ItemPropertiesConvertAndCheckTheirValues) {
  ParamsListPtr list = ListOf({{"Name", 1}});
  Lend("lst", list.get());
  EXPECT_EQ(Run("it = lst[0]"), "ok");
  EXPECT_EQ(Eval("it.LowerName"), "b'name'");
  EXPECT_EQ(Run("it.Name = 'Other'"), "ok");
  EXPECT_EQ(Eval("(it.Name, it.LowerName)"), "('Other', b'name')");  // the old lower-case name stays
  EXPECT_EQ(Run("it.LowerName = b'x'"), "ok");
  EXPECT_EQ(list->Items(0)->LowerName().str(), "x");
  EXPECT_EQ(Run("it.Name = 5"), "AttributeError: Name receives only string values");
  EXPECT_EQ(Run("it.LowerName = None"), "AttributeError: LowerName receives only string values");

  EXPECT_EQ(Run("it.DataType = 0xFFFFFFFF"), "ok");
  EXPECT_EQ(Eval("it.DataType"), "4294967295");
  EXPECT_EQ(Run("it.DataType = '1'"), "AttributeError: DataType receives only integer values");
  EXPECT_EQ(Run("it.Quality = 0"), "ok");
  EXPECT_EQ(Run("it.Quality = 5"), "ok");  // ignored
  EXPECT_EQ(Eval("it.Quality"), "0");
  EXPECT_EQ(Run("it.Quality = True"), "ok");
  EXPECT_EQ(Eval("it.Quality"), "1");
  EXPECT_EQ(Run("it.Quality = 'x'"), "AttributeError: Quality receives only integer values");

  EXPECT_EQ(Run("it.Value = [1, 'a']"), "ok");
  EXPECT_EQ(list->Items(0)->ValueRef().vt, platform::vtArray | platform::vtVariant);
  EXPECT_EQ(Eval("it.Value"), "[1, 'a']");
  EXPECT_EQ(Run("it.Value = b'ab'"), "ok");
  EXPECT_EQ(list->Items(0)->ValueRef().vt, platform::vtBstr);  // stored as an OLE string
  EXPECT_EQ(Run("it.Value = 2**70"), "OverflowError: int too big to convert");
  EXPECT_EQ(Eval("it.Value"), "'ab'");  // a failed assignment keeps the old value
  EXPECT_EQ(Run("it.Value = None"), "ok");
  EXPECT_EQ(Eval("repr(it)"), "'(Other, )'");
  EXPECT_EQ(Run("it.Value = 1.5"), "ok");
  EXPECT_EQ(Eval("str(it)"), "'(Other, 1.5)'");
}

TEST_F(ScriptTypes, ParseResultListsGetTheListTypeAndTheirOwnClassName) {
  // A list class derived from TkivParamsList, as the parse results are.
  static const TkivParamsListClass derived = [] {
    TkivParamsListClass c = TkivParamsList::Class;
    c.ClassName = "TParsedDataList";
    c.Parent = &TkivParamsList::Class;
    return c;
  }();
  ParamsListPtr list = TkivParamsList::Create(&derived);
  Lend("results", list.get());
  EXPECT_EQ(Eval("type(results).__name__"), "'kivParamsList'");
  EXPECT_EQ(Eval("results.ClassName"), "'TParsedDataList'");
  EXPECT_EQ(Eval("(results.InheritsFrom('TkivParamsList'), results.InheritsFrom('tobject'), "
                 "results.InheritsFrom('TFIFOStream'))"),
            "(True, True, False)");
  EXPECT_TRUE(Eval("repr(results)").starts_with("'<Object of type TParsedDataList at "));
  EXPECT_EQ(Eval("isinstance(results, plugin.kivParamsList)"), "True");
}

// ---- The machinery ---------------------------------------------------------------------

TEST_F(ScriptTypes, TypesArePublishedAndCannotBeCreatedByScripts) {
  EXPECT_EQ(Eval("[hasattr(plugin, n) for n in ('kivParamsList', 'kivParamsListItem', 'kivParamsListEx', "
                 "'kivParamsListItemEx', 'FIFOStream', 'VarParam', 'CreateVarParam')]"),
            "[True, True, True, True, True, True, True]");
  EXPECT_EQ(Eval("plugin.kivParamsList()"), "TypeError: cannot create 'kivParamsList' instances");
  EXPECT_EQ(Eval("plugin.VarParam()"), "TypeError: cannot create 'VarParam' instances");
  EXPECT_EQ(Eval("plugin.CreateVarParam.__doc__"), "'Creates a new instance of type VarParam'");
  EXPECT_EQ(Eval("plugin.kivParamsList.AddItem.__doc__"), "'TkivParamsList.AddItem()\\nAdds an item to the list'");
  EXPECT_EQ(Eval("plugin.FIFOStream.Shift.__doc__"), "'TFifoBuffer.Shift()\\nDeletes first N bytes from the buffer'");
  EXPECT_EQ(Eval("plugin.kivParamsListItem.Quality.__doc__"), "'The item quality.'");
}

TEST_F(ScriptTypes, NilWrapsAsNoneAndEveryObjectGetsTheFirstRegisteredTypeOfItsClass) {
  EXPECT_EQ(wrapper().Wrap(NativeObject(static_cast<TkivParamsList*>(nullptr)), *scope_).ptr(), engine().Api().None());
  ParamsListPtr list = ListOf({{"a", 1}});
  Lend("lst", list.get());
  // The extended types wrap the same classes but were registered later.
  EXPECT_EQ(Eval("(type(lst).__name__, type(lst[0]).__name__, type(lst.Items[0]).__name__)"),
            "('kivParamsList', 'kivParamsListItem', 'kivParamsListItem')");
  EXPECT_EQ(Eval("isinstance(lst, plugin.kivParamsListEx)"), "False");
}

TEST_F(ScriptTypes, WrappersCompareByNativeIdentityAndShareTheirMembers) {
  ParamsListPtr list = ListOf({{"a", 1}, {"b", 2}});
  Lend("lst", list.get());
  Lend("same", list.get());
  EXPECT_EQ(Eval("(lst == same, lst is same, lst[0] == lst[0], lst[0] == lst[1], lst != same)"),
            "(True, False, True, False, False)");
  EXPECT_EQ(Eval("(lst == 5, lst < 5, hash(lst) == hash(same))"), "(False, True, True)");
  EXPECT_EQ(Eval("(lst[0] < lst[1]) != (lst[1] < lst[0])"), "True");
  EXPECT_EQ(Eval("(lst.__bound__, lst.__owned__, lst.__published__)"), "(True, False, [])");
  EXPECT_EQ(Eval("lst.SetProps()"), "None");
  EXPECT_EQ(Eval("lst.SetProps(Tag=1)"), "AttributeError: \"Tag\" is not a published property of TkivParamsList");
  EXPECT_EQ(Eval("lst.Free()"), "AttributeError: The object of class TkivParamsList is not owned and cannot be freed");
  EXPECT_EQ(list->Count(), 2);  // still alive
}

TEST_F(ScriptTypes, AnOwnedObjectIsFreedByItsWrapper) {
  ParamsListPtr owned = ListOf({{"a", 1}});
  Object wrapped = wrapper().WrapOwned(NativeObject(owned.release()));
  PyObject* main = engine().Api().PyImport_AddModule("__main__");
  ASSERT_EQ(engine().Api().PyObject_SetAttrString(main, "mine", wrapped.ptr()), 0);
  EXPECT_EQ(Run("it = mine[0]; items = mine.Items"), "ok");
  EXPECT_EQ(Eval("(mine.__owned__, mine.Free(), mine.__bound__)"), "(True, None, False)");
  EXPECT_EQ(Eval("it.Name"), "ReferenceError: The native object of this kivParamsListItem no longer exists");
  EXPECT_EQ(Eval("len(items)"),
            "ReferenceError: The native container of this TkivParamsList.Items no longer exists");
  EXPECT_TRUE(Eval("repr(mine)").starts_with("'<Unbound wrapper of type TkivParamsList at "));
}

TEST_F(ScriptTypes, VarParamHoldsOneValue) {
  EXPECT_EQ(Eval("plugin.CreateVarParam().Value"), "None");
  EXPECT_EQ(Eval("repr(plugin.CreateVarParam())"), "'<VarParameter containing: None>'");
  EXPECT_EQ(Eval("str(plugin.CreateVarParam('x'))"), "\"<VarParameter containing: 'x'>\"");
  EXPECT_EQ(Eval("(plugin.CreateVarParam(5) == 5, plugin.CreateVarParam(5) < 6, plugin.CreateVarParam(5) > 6)"),
            "(True, True, False)");
  EXPECT_EQ(Run("v = plugin.CreateVarParam(1); w = plugin.CreateVarParam(2)\n"
                "v.Value = v; v.value = w; v.Value = [v]"),
            "ok");
  EXPECT_EQ(Eval("(v.value[0] is v, w.Value)"), "(True, 2)");  // holders are never held, lists may hold them
  EXPECT_EQ(Run("v.value = 3"), "ok");
  EXPECT_EQ(Eval("v.Value"), "3");
  // A holder in a cycle is collected.
  EXPECT_EQ(Run("import gc\nv.Value = [v]\ndel v\ngc.collect()"), "ok");
}

TEST_F(ScriptTypes, FifoStreamReadsAndShiftsTheBuffer) {
  TFIFOStream stream(64, 8, true);
  Lend("fifo", &stream);
  EXPECT_EQ(Eval("(fifo.Size, fifo.GetBytes())"), "(0, b'')");
  stream.Write("hello\nworld", 11);
  EXPECT_EQ(Eval("(fifo.Size, fifo.GetBytes(), fifo.GetBytes() == fifo.GetBytes())"), "(11, b'hello\\nworld', True)");
  EXPECT_EQ(Run("snapshot = fifo.GetBytes(); fifo.Shift(6)"), "ok");
  EXPECT_EQ(Eval("(snapshot, fifo.GetBytes(), fifo.Size)"), "(b'hello\\nworld', b'world', 5)");
  EXPECT_EQ(Eval("fifo.Shift(-1) or fifo.Size"), "5");
  EXPECT_EQ(Eval("fifo.Shift(100) or fifo.Size"), "0");
  stream.Write("ab", 2);
  EXPECT_EQ(Eval("fifo.Clear() or fifo.Size"), "0");
  EXPECT_EQ(Eval("fifo.Shift()"), "TypeError: Shift() takes exactly 1 argument (0 given)");
  EXPECT_EQ(Eval("len(fifo)"), "TypeError: object of type 'plugin.FIFOStream' has no len()");
  EXPECT_EQ(Eval("fifo.ToList()"), "SystemError: Wrapper TFIFOStream does not support sequences");
  EXPECT_EQ(Eval("fifo.InheritsFrom('TThreadObject')"), "True");
  EXPECT_TRUE(Eval("repr(fifo)").starts_with("'<Object of type TFIFOStream at "));
}

TEST_F(ScriptTypes, TypeStatisticsCountLiveObjects) {
  ParamsListPtr list = ListOf({{"a", 1}});
  Lend("lst", list.get());
  EXPECT_EQ(Run("import pyio\nbefore = dict((s[0], s[1:]) for s in pyio.GetTypesStats())\n"
                "kept = [lst[0] for _ in range(3)]\n"
                "after = dict((s[0], s[1:]) for s in pyio.GetTypesStats('kivParamsListItem'))"),
            "ok");
  EXPECT_EQ(Eval("(after['kivParamsListItem'][0] - before['kivParamsListItem'][0], "
                 "after['kivParamsListItem'][1] - before['kivParamsListItem'][1])"),
            "(3, 3)");
  EXPECT_EQ(Eval("sorted(after)"), "['kivParamsListItem']");
  EXPECT_EQ(Eval("'FIFOStream' in before and 'VarParam' in before"), "True");
}

// ---- Objects that outlive their native objects -------------------------------------------

TEST_F(ScriptTypes, ObjectsKeptAfterTheirCallRaiseReferenceError) {
  ParamsListPtr list = ListOf({{"a", 1}, {"b", 2}});
  TFIFOStream stream(16, 4, true);
  Lend("lst", list.get());
  Lend("fifo", &stream);
  EXPECT_EQ(Run("kept = (lst, lst[0], lst.Items, iter(lst), fifo)"), "ok");
  scope_->End();  // the call is over
  list.reset();

  EXPECT_EQ(Eval("kept[0].Count"), "ReferenceError: The native object of this kivParamsList no longer exists");
  EXPECT_EQ(Eval("kept[0].AddItem('x', 1)"), "ReferenceError: The native object of this kivParamsList no longer exists");
  EXPECT_EQ(Eval("len(kept[0])"), "ReferenceError: The native object of this kivParamsList no longer exists");
  EXPECT_EQ(Eval("kept[1].Value"), "ReferenceError: The native object of this kivParamsListItem no longer exists");
  EXPECT_EQ(Eval("kept[2][0]"), "ReferenceError: The native container of this TkivParamsList.Items no longer exists");
  EXPECT_EQ(Eval("next(kept[3])"), "ReferenceError: The native container of this TkivParamsList.Items no longer exists");
  EXPECT_EQ(Eval("kept[4].GetBytes()"), "ReferenceError: The native object of this FIFOStream no longer exists");
  // What needs no native object still answers.
  EXPECT_EQ(Eval("(kept[0].__bound__, kept[0] == kept[0], kept[0] == kept[1])"), "(False, True, False)");
  EXPECT_TRUE(Eval("repr(kept[0])").starts_with("'<Unbound wrapper of type TkivParamsList at "));
  EXPECT_EQ(Run("del kept"), "ok");
}

TEST_F(ScriptTypes, ItemsDieWithTheirDeletionOrTheirList) {
  ParamsListPtr list = ListOf({{"a", 1}, {"b", 2}, {"c", 3}});
  Lend("lst", list.get());
  EXPECT_EQ(Run("a, b, c = lst[0], lst[1], lst[2]; b2 = lst.ItemByName('b'); lst.Delete(1)"), "ok");
  EXPECT_EQ(Eval("b.Name"), "ReferenceError: The native object of this kivParamsListItem no longer exists");
  EXPECT_EQ(Eval("b2.Value"), "ReferenceError: The native object of this kivParamsListItem no longer exists");
  EXPECT_EQ(Eval("(a.Name, c.Name, c in lst, b in lst)"), "('a', 'c', True, False)");
  EXPECT_EQ(Eval("lst.AddItemCopy(b)"), "ReferenceError: The native object of this kivParamsListItem no longer exists");

  EXPECT_EQ(Run("lst.Clear()"), "ok");
  EXPECT_EQ(Eval("a.Name"), "ReferenceError: The native object of this kivParamsListItem no longer exists");
  EXPECT_EQ(Eval("lst.Count"), "0");  // the list itself lives on

  // A list freed while its call runs takes its objects with it.
  EXPECT_EQ(Run("d = lst.AddItem('d', 4); items = lst.Items"), "ok");
  scope_->Forget(list.get());
  list.reset();
  EXPECT_EQ(Eval("d.Name"), "ReferenceError: The native object of this kivParamsListItem no longer exists");
  EXPECT_EQ(Eval("lst.Count"), "ReferenceError: The native object of this kivParamsList no longer exists");
  EXPECT_EQ(Eval("list(items)"), "ReferenceError: The native container of this TkivParamsList.Items no longer exists");
}

TEST_F(ScriptTypes, ClearingWhileIteratingEndsTheIteration) {
  ParamsListPtr list = ListOf({{"a", 1}, {"b", 2}, {"c", 3}});
  Lend("lst", list.get());
  EXPECT_EQ(Run("seen = []\nfor i in lst:\n  seen.append(i.Name)\n  lst.Clear()"), "ok");
  EXPECT_EQ(Eval("(seen, lst.Count)"), "(['a'], 0)");
  EXPECT_EQ(Run("lst.AddItem('x', 1); it = iter(lst.Items); first = next(it); lst.Delete(0)"), "ok");
  EXPECT_EQ(Eval("next(it)"), "StopIteration: StopIteration");
  EXPECT_EQ(Eval("first.Name"), "ReferenceError: The native object of this kivParamsListItem no longer exists");
}

// Item objects nobody holds any more stand for the next item (iterators,
// list method results); none of that may show.
TEST_F(ScriptTypes, ReusedItemObjectsKeepTheirMeaning) {
  ParamsListPtr list = ListOf({{"a", 1}, {"b", 2}, {"c", 3}});
  Lend("lst", list.get());
  EXPECT_EQ(Eval("[i.Name for i in [i for i in lst]]"), "['a', 'b', 'c']");
  EXPECT_EQ(Run("objs = []\nfor i in lst: objs.append(i)"), "ok");
  EXPECT_EQ(Eval("[o.Name for o in objs]"), "['a', 'b', 'c']");
  EXPECT_EQ(Run("for i in lst: pass\nlast = i\nfor j in lst: pass\nfor j in lst: pass"), "ok");
  EXPECT_EQ(Eval("(last.Name, j.Name, last is j, last == j)"), "('c', 'c', False, True)");
  EXPECT_EQ(Eval("[a.Name + b.Name for a in lst for b in lst]"),
            "['aa', 'ab', 'ac', 'ba', 'bb', 'bc', 'ca', 'cb', 'cc']");
  EXPECT_EQ(Eval("(lambda i1, i2: (next(i1).Name, next(i1).Name, next(i2).Name, i1 is i2))(iter(lst), iter(lst))"),
            "('a', 'b', 'a', False)");
  // An ended iterator still visits what is appended later; a new loop starts at the first item.
  EXPECT_EQ(Run("it = iter(lst); rest = list(it); lst.AddItem('d', 4)"), "ok");
  EXPECT_EQ(Eval("(next(it).Name, [i.Name for i in lst])"), "('d', ['a', 'b', 'c', 'd'])");

  EXPECT_EQ(Run("x = lst.AddItem('x', 5); lst.AddItem('y', 6); lst.ItemByName('a'); z = lst.ItemByName('b')"), "ok");
  EXPECT_EQ(Eval("(x.Name, x.Value, z.Name, x is z)"), "('x', 5, 'b', False)");
  // The item a dropped result stood for goes; the object stands for another, and dies with that one.
  EXPECT_EQ(Run("lst.ItemByName('c'); lst.Delete(2); w = lst.ItemByName('d')"), "ok");
  EXPECT_EQ(Eval("(w.Name, lst.Count)"), "('d', 5)");
  EXPECT_EQ(Run("lst.Delete(lst.ItemIndexByName('d'))"), "ok");
  EXPECT_EQ(Eval("w.Name"), "ReferenceError: The native object of this kivParamsListItem no longer exists");
  EXPECT_EQ(Run("for i in lst: lst.Delete(0)"), "ok");
  EXPECT_EQ(Eval("(lst.Count, [i.Name for i in lst])"), "(2, ['x', 'y'])");
}

TEST_F(ScriptTypes, ReusedObjectsAreCountedAsNewOnes) {
  ParamsListPtr list = ListOf({{"a", 1}, {"b", 2}, {"c", 3}});
  Lend("lst", list.get());
  EXPECT_EQ(Run("import pyio\n"
                "def _counts():\n"
                "    s = dict((t[0], t[1:]) for t in pyio.GetTypesStats())\n"
                "    return s['kivParamsListItem'] + s['Iterator']\n"
                "before = _counts()\n"
                "for _ in range(3):\n"
                "    for i in lst: pass\n"
                "    lst.ItemByName('b')\n"
                "del i, lst\n"
                "after = _counts()"),
            "ok");
  // Live, created, deleted: items, then iterators.
  EXPECT_EQ(Eval("tuple(a - b for a, b in zip(after, before))"), "(0, 12, 12, 0, 3, 3)");
}

}  // namespace
}  // namespace corvane::py
