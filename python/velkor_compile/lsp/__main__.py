"""`python -m velkor_compile.lsp`: the language server, as `velkor-compile lsp` starts it."""

import sys

from . import main

sys.exit(main())
