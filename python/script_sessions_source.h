// The Python side of script sessions: several scripts sharing one
// interpreter, each in a namespace of its own. Run once when the shared
// interpreter starts, in a dictionary of its own; the engine opens a session
// per script with Session(id, folder, file) and closes it with close().
//
// A session gives its script:
// - a namespace module named __main__ (not the process's __main__ module),
//   whose builtins are the session's own copy, with an __import__ that
//   resolves the modules the engine published for the session ("plugin")
//   and the modules beside the script; library modules that import a
//   published module get a stand-in that reaches the module of the session
//   whose code runs;
// - the modules beside the script (Python sources and packages in the
//   script's folder), loaded under a package of the session's own,
//   "__script<id>__", so that two scripts' helper modules of one name never
//   meet and a restart loads them afresh from their sources. They get the
//   session's builtins too, so their own imports resolve the same way;
// - its threads: a thread started while a session's code runs belongs to
//   that session (it enters it through pyio) and is stopped with it.
//
// Library modules (the standard library, site packages, C extensions) are
// imported as usual and shared by every session.
#pragma once

namespace corvane {

constexpr const char* kScriptSessionsSource = R"PY(
import builtins, gc, importlib.machinery, linecache, sys, types, _thread
import pyio

# The streams' redirection to pyio, if any: put back for every new session,
# so that a script which replaced sys.stdout breaks only its own run.
redirect = sys.stdout if type(sys.stdout).__name__ == 'DebugOutput' else None
_real_import = builtins.__import__
_real_start = _thread.start_new_thread
sessions = {}
by_prefix = {}


class UserSourceLoader(importlib.machinery.SourceFileLoader):
    def __init__(self, fullname, path, session):
        super().__init__(fullname, path)
        self.session = session

    def exec_module(self, module):
        module.__builtins__ = self.session.builtins
        super().exec_module(module)

    def get_code(self, fullname):
        # From the source every time: the byte code kept of an older version
        # can carry the time stamp and size of an edit made within a second.
        path = self.get_filename(fullname)
        return compile(self.get_data(path), path, 'exec', dont_inherit=True)


def find_user_spec(fullname, path, session):
    loader = (lambda name, file: UserSourceLoader(name, file, session), importlib.machinery.SOURCE_SUFFIXES)
    for entry in path:
        spec = importlib.machinery.FileFinder(entry, loader).find_spec(fullname)
        if spec is not None:
            return spec
    return None


class UserModuleFinder:
    @staticmethod
    def find_spec(fullname, path=None, target=None):
        top = fullname.partition('.')[0]
        session = by_prefix.get(top)
        if session is None or top == fullname or not path:
            return None
        return find_user_spec(fullname, path, session)

    @staticmethod
    def invalidate_caches():
        pass


sys.meta_path.insert(0, UserModuleFinder)


def start_new_thread(function, args, kwargs=None):
    session = sessions.get(pyio._session())
    kwargs = {} if kwargs is None else kwargs
    if session is None:
        return _real_start(function, args, kwargs)
    def run(*args, **kwargs):
        session.pending -= 1
        pyio._enter(session.id)
        ident = _thread.get_ident()
        session.threads.add(ident)
        try:
            return function(*args, **kwargs)
        finally:
            session.threads.discard(ident)
            pyio._leave()
    session.pending += 1
    try:
        return _real_start(run, args, kwargs)
    except BaseException:
        session.pending -= 1
        raise


_thread.start_new_thread = start_new_thread
if 'threading' in sys.modules:
    sys.modules['threading']._start_new_thread = start_new_thread


class CurrentSessionModule(types.ModuleType):
    """Stands in sys.modules for a module every session publishes (plugin),
    for the modules outside a script's folder (library modules, shared by
    every session): each attribute is looked up, when used, in the module of
    the session whose code runs on the calling thread."""

    def __getattr__(self, name):
        session = sessions.get(pyio._session())
        module = session.modules.get(self.__name__) if session is not None else None
        if module is None:
            raise AttributeError("module '%s' has no attribute '%s': no script runs on this thread"
                                 % (self.__name__, name))
        return getattr(module, name)

    def __dir__(self):
        session = sessions.get(pyio._session())
        module = session.modules.get(self.__name__) if session is not None else None
        return dir(module) if module is not None else []


class Session:
    def __init__(self, id, folder, file):
        if redirect is not None:
            sys.stdin = sys.stdout = sys.stderr = redirect
        self.id = id
        self.prefix = '__script%d__' % id
        self.folder = folder or None
        self.modules = {}
        self.found = {}
        self.threads = set()
        self.asked = set()
        self.pending = 0
        self.builtins = dict(builtins.__dict__)
        self.builtins['__import__'] = self.import_module
        package = types.ModuleType(self.prefix, "The modules beside a script")
        package.__path__ = [folder] if folder else []
        package.__package__ = self.prefix
        package.__spec__ = importlib.machinery.ModuleSpec(self.prefix, None, is_package=True)
        package.__spec__.submodule_search_locations = package.__path__
        sys.modules[self.prefix] = package
        self.namespace = types.ModuleType('__main__')
        self.namespace.__builtins__ = self.builtins
        if file:
            self.namespace.__file__ = file
        sessions[id] = self
        by_prefix[self.prefix] = self

    def publish(self, name, module):
        self.modules[name] = module
        if not isinstance(sys.modules.get(name), CurrentSessionModule):
            sys.modules[name] = CurrentSessionModule(name, module.__doc__)

    def is_user_module(self, top):
        found = self.found.get(top)
        if found is None:
            spec = find_user_spec(self.prefix + '.' + top, [self.folder], self) if self.folder else None
            # A folder without __init__ is no module of the script's: as on
            # the search path, a library module of that name comes first.
            found = spec is not None and spec.loader is not None
            self.found[top] = found
        return found

    def import_module(self, name, globals=None, locals=None, fromlist=(), level=0):
        if level == 0:
            top = name.partition('.')[0]
            module = self.modules.get(top)
            if module is not None and top == name:
                return module
            if self.is_user_module(top):
                leaf = _real_import(self.prefix + '.' + name, globals, locals, fromlist, 0)
                return leaf if fromlist else sys.modules[self.prefix + '.' + top]
        return _real_import(name, globals, locals, fromlist, level)

    def to_ask(self):
        threading = sys.modules.get('threading')
        if threading is not None:
            for thread in threading.enumerate():
                if thread.ident in self.threads and isinstance(thread, threading.Timer):
                    thread.cancel()
        found = set(self.threads)
        found.discard(_thread.get_ident())
        found -= self.asked
        self.asked.update(found)
        return list(found)

    def running(self):
        return len(self.threads) + self.pending

    def close(self):
        sessions.pop(self.id, None)
        by_prefix.pop(self.prefix, None)
        for name in [name for name in sys.modules if name == self.prefix or name.startswith(self.prefix + '.')]:
            module = sys.modules.pop(name, None)
            if module is not None and name != self.prefix:
                module.__dict__.clear()
        # The last error shown may hold the old script's frames.
        for name in ('last_type', 'last_value', 'last_traceback', 'last_exc'):
            if hasattr(sys, name):
                delattr(sys, name)
        linecache.clearcache()
        self.namespace.__dict__.clear()
        self.namespace = None
        self.modules.clear()
        self.found.clear()
        gc.collect()
)PY";

}  // namespace corvane
