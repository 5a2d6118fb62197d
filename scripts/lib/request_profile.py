"""Reads `callgrind_annotate --tree=calling --inclusive=yes` on standard input and prints, per
request of the plugin's endpoint handler, its instructions and the functions that take the most
of them (inclusive), with their calls per request.

    python3 request_profile.py TOP < annotated.txt
"""
import re
import sys

# "  1,234 ( 5.67%)  *  ???:Caller [object]" or "  1,234 ( 5.67%)  >   ???:Callee (12x) [object]"
LINE = re.compile(r"^\s*([0-9,]+) \([^)]*\)\s+([*>])\s+(?:\?\?\?:)?(.*?)(?: \(([0-9,]+)x\))? \[")
HANDLER = "HandleEndpointRequest("


def Short(name: str) -> str:
    for long, short in (
        ("std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >", "std::string"),
        ("std::basic_string_view<char, std::char_traits<char> >", "std::string_view"),
        ("Vexa::Client::Api::", ""),
        ("Vexa::", ""),
        ("(anonymous namespace)::", ""),
    ):
        name = name.replace(long, short)
    return name


def main() -> int:
    top = int(sys.argv[1]) if len(sys.argv) > 1 else 30
    requests = handler = 0
    largest = {}  # callee -> (instructions, calls), from the caller that calls it most
    caller = ""
    for line in sys.stdin:
        match = LINE.match(line)
        if not match:
            continue
        instructions = int(match.group(1).replace(",", ""))
        name = match.group(3)
        if match.group(2) == "*":
            caller = name
            continue
        calls = int((match.group(4) or "0").replace(",", ""))
        if HANDLER in name and "RunEndpoint" in caller:
            requests += calls
            handler += instructions
        if instructions > largest.get(name, (0, 0))[0]:
            largest[name] = (instructions, calls)
    if requests == 0:
        print("no request of the endpoint handler in the profile", file=sys.stderr)
        return 1
    print(f"{requests} requests, {handler / requests:.0f} instructions each\n")
    print(f"{'instr/req':>10} {'calls/req':>9}  function (inclusive)")
    rows = sorted(largest.items(), key=lambda item: item[1][0], reverse=True)
    shown = 0
    for name, (instructions, calls) in rows:
        if instructions > handler or HANDLER in name or calls < requests / 2 or "/elf/" in name:
            continue  # the benchmark around the handler, the handler, the loader's start-up
        print(f"{instructions / requests:10.0f} {calls / requests:9.2f}  {Short(name)[:110]}")
        shown += 1
        if shown == top:
            break
    return 0


if __name__ == "__main__":
    sys.exit(main())
