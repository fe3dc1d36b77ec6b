# Makes the one self-contained page: the template with its style, the page's
# script (what a run found, then the page itself), and the worker's script
# after the WebAssembly core (held in it).
#   cmake -DSOURCE=web/ -DCORE=zefacut_core.js -DOUTPUT=zefacut.html -P assemble.cmake
file(READ "${SOURCE}/page.html" page)
file(READ "${SOURCE}/page.css" style)
file(READ "${SOURCE}/verdict.js" found)
file(READ "${SOURCE}/page.js" script)
string(PREPEND script "${found}\n")
file(READ "${SOURCE}/worker.js" worker)
file(READ "${CORE}" core)
# The worker's text sits in a script element that the browser does not run:
# nothing in it may end that element early.
string(REPLACE "</script" "<\\/script" core "${core}")
string(REPLACE "</script" "<\\/script" worker "${worker}")
string(REPLACE "@STYLE@" "${style}" page "${page}")
string(REPLACE "@PAGE@" "${script}" page "${page}")
string(REPLACE "@WORKER@" "${core}\n${worker}" page "${page}")
file(WRITE "${OUTPUT}" "${page}")
file(SIZE "${OUTPUT}" size)
math(EXPR kib "${size} / 1024")
message(STATUS "zefacut.html: ${kib} KiB")
