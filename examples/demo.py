"""Drive a compiler handle with a few JSON commands and print the answers."""

from velkor_compile import Compiler, version


def main() -> None:
    compiler = Compiler()
    print("velkor_compile", version())
    for command in (
        '{"cmd":"version"}',
        '{"cmd":"targets"}',
        '{"cmd":"compile"}',
        '{"cmd":"launch"}',
        '{"cmd":"reset"}',
    ):
        print(">", command)
        print("<", compiler.command(command))


if __name__ == "__main__":
    main()
