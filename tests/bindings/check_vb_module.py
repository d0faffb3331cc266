"""Checks Vexo.bas, the Visual Basic 6 module, against what VB6 will meet at run time:
- every Declare names VexoVB.dll and a function it exports, and the bytes its arguments take on
  the stack add up to the @N of the stdcall symbol that export leads to (read from the linker's
  map), so that the call leaves the stack as it found it;
- each argument is passed as the library's parameter needs: a pointer ByRef, a 32-bit value
  ByVal As Long; every export is declared, returning Long;
- Type DeviceInfo has the header's fields in the header's order, all Long;
- each Const named like one of the header's #defines has its value, read as VB6 reads the
  literal (&H8000 without & is the Integer -32768).

- the example calls only functions and uses only constants the module declares (VB6, with
  Option Explicit, would refuse to compile it).

Usage: check_vb_module.py Vexo.bas VexoVB.dll VexoVB.map VexoDLL.h Example.bas
"""
import re
import sys

import pe_checks

DECLARE = re.compile(
    r'^(?:Public |Private )?Declare Function (\w+) Lib "([^"]+)"(?: Alias "([^"]+)")?\s*'
    r'\(([^)]*)\)\s*As (\w+)', re.M | re.I)
# Bytes VB6 pushes for an argument passed ByVal; every ByRef argument is one 4-byte address.
BYVAL_BYTES = {"byte": 4, "integer": 4, "boolean": 4, "long": 4, "single": 4, "string": 4,
               "object": 4, "double": 8, "currency": 8, "date": 8, "variant": 16}
MAP_SYMBOL = re.compile(r"^\s+0x([0-9a-f]+)\s+_?(\w+)@(\d+)$", re.M)
C_PROTOTYPE = re.compile(r"^int VEXO_CALL (cVexo\w+)\(([^)]*)\);", re.M)


def joined_lines(text):
    """The module's text with VB6's line continuations (" _" at a line's end) joined."""
    return re.sub(r" _\r?\n\s*", " ", text)


def vb_arguments(text):
    """[(passing, type)] of a Declare's argument list; passing is ByRef unless ByVal is said."""
    arguments = []
    for argument in filter(None, (a.strip() for a in text.split(","))):
        match = re.fullmatch(r"(?:(ByVal|ByRef) )?\w+(?: As (\w+))?", argument, re.I)
        if not match:
            raise ValueError("cannot read the argument %r" % argument)
        arguments.append(((match.group(1) or "ByRef").lower(), (match.group(2) or "Variant").lower()))
    return arguments


def stack_bytes(arguments):
    return sum(4 if passing == "byref" else BYVAL_BYTES.get(kind, 0) for passing, kind in arguments)


def stdcall_bytes(image, map_text):
    """{export name: N of the stdcall symbol name@N at the export's address}"""
    base = image.OPTIONAL_HEADER.ImageBase
    at = {}
    for address, _, count in MAP_SYMBOL.findall(map_text):
        at.setdefault(int(address, 16), int(count))
    return {s.name.decode(): at.get(base + s.address)
            for s in image.DIRECTORY_ENTRY_EXPORT.symbols if s.name}


def c_parameters(header):
    """{function: [True for a pointer parameter, False for a 32-bit value]}"""
    functions = {}
    for name, parameters in C_PROTOTYPE.findall(header):
        parameters = [p for p in (p.strip() for p in parameters.split(",")) if p and p != "void"]
        functions[name] = ["*" in p for p in parameters]
    return functions


def vb_literal(text):
    """The 32-bit pattern VB6 gives a numeric literal: &H without & is an Integer when it fits
    16 bits, and a decimal that fits 16 bits is one too; both widen with their sign."""
    long_suffix = text.endswith("&")
    digits = text.rstrip("&")
    if digits.lower().startswith("&h"):
        value = int(digits[2:], 16)
        if not long_suffix and value <= 0xFFFF and value & 0x8000:
            value -= 0x10000
    else:
        value = int(digits)
    return value & 0xFFFFFFFF


def header_defines(header):
    return {name: int(value, 16) for name, value in
            re.findall(r"^#define (VEXO_\w+) 0x([0-9A-Fa-f]+)u", header, re.M)}


def declare_problems(module, image, map_text, header):
    problems, declared = [], set()
    bytes_of = stdcall_bytes(image, map_text)
    parameters = c_parameters(header)
    for name, library, alias, argument_text, result in DECLARE.findall(module):
        export = alias or name
        declared.add(export)
        if library.lower() != "vexovb.dll":
            problems.append(f"{name}: declared from {library}, not VexoVB.dll")
            continue
        if export not in bytes_of:
            problems.append(f"{name}: VexoVB.dll has no export {export}")
            continue
        arguments = vb_arguments(argument_text)
        if bytes_of[export] is None:
            problems.append(f"{export}: no stdcall symbol at the export's address in the map")
        elif stack_bytes(arguments) != bytes_of[export]:
            problems.append(f"{name}: its arguments take {stack_bytes(arguments)} bytes, the "
                            f"stdcall function removes {bytes_of[export]}")
        if result.lower() != "long":
            problems.append(f"{name}: returns {result}, not Long")
        expected = parameters.get(export)
        if expected is None:
            problems.append(f"{name}: VexoDLL.h declares no {export}")
        elif len(expected) == len(arguments):
            for index, (pointer, (passing, kind)) in enumerate(zip(expected, arguments)):
                if pointer and passing != "byref":
                    problems.append(f"{name}: argument {index + 1} is a pointer; pass it ByRef")
                elif not pointer and (passing, kind) != ("byval", "long"):
                    problems.append(f"{name}: argument {index + 1} is a 32-bit value; "
                                    f"pass it ByVal As Long")
    problems += [f"no Declare for {export}" for export in sorted(set(bytes_of) - declared)]
    return problems


def type_problems(module, header):
    c_fields = re.findall(r"VexoUInt32 (\w+);",
                          re.search(r"typedef struct DeviceInfo \{(.*?)\}", header, re.S).group(1))
    block = re.search(r"^Public Type DeviceInfo\s*$(.*?)^End Type", module, re.M | re.S)
    if not block:
        return ["no Public Type DeviceInfo"]
    fields = re.findall(r"^\s*(\w+) As (\w+)", block.group(1), re.M)
    if [f for f, _ in fields] != c_fields or any(t.lower() != "long" for _, t in fields):
        return [f"Type DeviceInfo is {fields}, not {c_fields} all As Long"]
    return []


def constant_problems(module, header):
    defines = header_defines(header)
    problems = []
    for name, literal in re.findall(r"^Public Const (\w+) As Long = (&H[0-9A-F]+&?|\d+&?)",
                                    module, re.M | re.I):
        if name in defines and vb_literal(literal) != defines[name]:
            problems.append(f"{name} = {literal} is 0x{vb_literal(literal):X} in VB6, not "
                            f"0x{defines[name]:X}")
    return problems


def example_problems(example, module):
    declared = set(re.findall(r"^Public (?:Declare Function|Const|Function|Type) (\w+)", module,
                              re.M))
    code = re.sub(r"'.*", "", re.sub(r'"[^"\n]*"', '""', example))  # no strings, no comments
    used = set(re.findall(r"\b((?:cVexo|Vexo|VEXO_)\w+)", code))
    return [f"the example uses {name}, which Vexo.bas does not declare"
            for name in sorted(used - declared)]


def main():
    module_path, dll_path, map_path, header_path, example_path = sys.argv[1:6]
    module = joined_lines(open(module_path, newline="").read())
    header = open(header_path).read()
    image = pe_checks.open_image(dll_path)
    problems = declare_problems(module, image, open(map_path).read(), header)
    problems += type_problems(module, header)
    problems += constant_problems(module, header)
    problems += example_problems(open(example_path).read(), module)
    return pe_checks.report(problems,
                            f"{len(DECLARE.findall(module))} Declares checked against VexoVB.dll")


if __name__ == "__main__":
    sys.exit(main())
