# Run by the script bench: compares the names the typing stubs declare with
# the names of the live module `plugin` and its types, and logs the result.
# The stub file comes as the module parameter "Stub".
import ast

import plugin


def public(names):
    return {name for name in names if not name.startswith("_")}


def stub_names(path):
    tree = ast.parse(open(path, encoding="utf-8").read())
    classes = {}
    module = set()
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            members = set()
            for item in node.body:
                if isinstance(item, (ast.FunctionDef, ast.AsyncFunctionDef)):
                    members.add(item.name)
                elif isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
                    members.add(item.target.id)
            bases = [base.id for base in node.bases if isinstance(base, ast.Name)]
            classes[node.name] = (public(members), bases)
            module.add(node.name)
        elif isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            module.add(node.name)
    return public(module), classes


def flattened(classes, name):
    members, bases = classes[name]
    result = set(members)
    for base in bases:
        if base in classes:
            result |= flattened(classes, base)
    return result


def EventData(params, source, name):
    module, classes = stub_names(params.ItemValueByName("Stub"))
    faults = []
    live = public(dir(plugin))
    if module != live:
        faults.append("module: only in the stubs %s, only in the module %s" %
                      (sorted(module - live), sorted(live - module)))
    for type_name in sorted(live & set(classes)):
        declared = flattened(classes, type_name)
        members = public(dir(getattr(plugin, type_name)))
        if declared != members:
            faults.append("%s: only in the stubs %s, only in the type %s" %
                          (type_name, sorted(declared - members), sorted(members - declared)))
    for fault in faults:
        plugin.DbgLog("stubs differ: " + fault, 0)
    if not faults:
        plugin.DbgLog("stubs match the module: %d names, %d types" % (len(live), len(live & set(classes))))
