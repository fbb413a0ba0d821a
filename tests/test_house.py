"""The house kept as the README and the package describe it: every folder
and module listed where a newcomer looks, no import circle among the
organiser's tools, no side door onto the import path, short functions."""
import ast
import os
import re
import subprocess

from conftest import ROOT

PACKAGE = os.path.join(ROOT, 'tools', 'class_set')


def tracked(*patterns):
    """The files git tracks, and those it would take (new, not ignored)."""
    listed = subprocess.run(['git', 'ls-files', '--cached', '--others', '--exclude-standard', '--', *patterns],
                            cwd=ROOT, capture_output=True, text=True, check=True)
    return listed.stdout.split()


def modules():
    """{module name in class_set: its syntax tree}"""
    found = {}
    for folder, _, names in os.walk(PACKAGE):
        for name in names:
            if name.endswith('.py'):
                path = os.path.join(folder, name)
                module = os.path.relpath(path, PACKAGE)[:-3].replace(os.sep, '.').removesuffix('.__init__')
                with open(path, encoding='utf-8') as f:
                    found[module] = ast.parse(f.read(), path)
    return found


def test_the_readme_lists_every_folder_and_no_other():
    with open(os.path.join(ROOT, 'README.md'), encoding='utf-8') as f:
        layout = f.read().split('## Layout', 1)[1]
    listed = set(re.findall(r'^- `([^`/]+)/`', layout, re.M))
    folders = {path.split('/')[0] for path in tracked() if '/' in path and not path.startswith('.')}
    assert listed == folders, f'expected {sorted(folders)}, got {sorted(listed)}'


def test_the_package_docstring_names_every_module():
    found = modules()
    said = ast.get_docstring(found['__init__'])
    missing = [m for m in found if m != '__init__' and m.split('.')[-1] not in said]
    assert missing == []


def imports_of(module, tree):
    """The class_set modules that `module` imports, at its top level."""
    package = module.split('.')[:-1] if module != 'web' else ['web']
    found = set()
    for node in tree.body:
        if isinstance(node, ast.ImportFrom) and node.level:
            base = (package[:len(package) - node.level + 1] if node.level > 1 else package)
            target = '.'.join(base + ([node.module] if node.module else []))
            found |= {target} if node.module else {'.'.join(base + [a.name]) for a in node.names}
    return found


def test_no_import_circle():
    found = modules()
    graph = {m: {i for i in imports_of(m, tree) if i in found and i != m} for m, tree in found.items()}

    def circle(at, path):
        for step in graph[at]:
            if step in path:
                return path[path.index(step):] + [step]
            seen = circle(step, path + [step])
            if seen:
                return seen
        return None
    for module in graph:
        assert circle(module, [module]) is None


# The layers, from the bottom: a module imports from its own layer or those
# below it, and programs and sheets, side by side, not from each other.
LAYERS = {'set': 1, 'programs': 2, 'sheets': 2, 'web': 3, 'commands': 4, '__main__': 5}


def layer(module):
    return LAYERS.get(module.split('.')[0], 0)  # errors, names, times and the like: the ground


def all_imports_of(module, tree):
    """The class_set modules that `module` imports anywhere in it, in functions too."""
    package = module.split('.')[:-1] if not MODULE_IS_PACKAGE.get(module) else module.split('.')
    found = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom) and node.level:
            base = package[:len(package) - node.level + 1] if node.level > 1 else package
            target = '.'.join(base + ([node.module] if node.module else []))
            found |= {target} if node.module else {'.'.join(base + [a.name]) for a in node.names}
    return found


MODULE_IS_PACKAGE = {}


def test_imports_run_down_the_layers():
    found = modules()
    MODULE_IS_PACKAGE.update({m: os.path.exists(os.path.join(PACKAGE, *m.split('.'), '__init__.py')) for m in found})
    upward = [f'{module} imports {target}' for module, tree in found.items()
              for target in all_imports_of(module, tree) if target in found and target.split('.')[0] != module.split('.')[0]
              and (layer(target) > layer(module) or layer(target) == layer(module) != 0)]
    assert upward == []


def test_the_judge_includes_nothing_of_the_window():
    for path in tracked('entry'):
        with open(os.path.join(ROOT, path), encoding='utf-8', errors='replace') as f:
            included = re.findall(r'#include\s+"([^"]+)"', f.read())
        above = [name for name in included for folder in ('shell', 'driver')
                 if os.path.exists(os.path.join(ROOT, folder, name))]
        assert above == [], f'{path} includes the window\'s {above}'


def test_no_side_door_onto_the_import_path():
    for path in tracked('tools', 'tests', 'bench'):
        if path.endswith('.py'):
            with open(os.path.join(ROOT, path), encoding='utf-8') as f:
                assert not re.search(r'sys\.path\s*(\.|\[|\+?=)', f.read()), path


def test_no_function_of_the_tools_over_fifty_lines():
    long = []
    for path in tracked('tools'):
        if path.endswith('.py'):
            with open(os.path.join(ROOT, path), encoding='utf-8') as f:
                tree = ast.parse(f.read())
            long += [f'{path}: {node.name}, {node.end_lineno - node.lineno + 1} lines' for node in ast.walk(tree)
                     if isinstance(node, ast.FunctionDef) and node.end_lineno - node.lineno >= 50]
    assert long == []


def test_every_public_function_says_what_it_does():
    found = []
    for path in tracked('tools/class_set'):
        if path.endswith('.py'):
            with open(os.path.join(ROOT, path), encoding='utf-8') as f:
                tree = ast.parse(f.read())
            for node in tree.body:
                inside = node.body if isinstance(node, ast.ClassDef) else []
                for each in [node, *inside]:
                    if isinstance(each, (ast.FunctionDef, ast.ClassDef)) and not each.name.startswith('_') \
                            and not ast.get_docstring(each):
                        found.append(f'{path}:{each.lineno} {each.name}')
    assert found == []
