# The installer's core: everything that decides, with no Windows header.
# setup.exe and the host tests both compile it from this one list.
set(SETUP_CORE_SOURCES
    arguments.cpp
    changes.cpp
    facts.cpp
    journal.cpp
    message_language.cpp
    payload.cpp
    pending_renames.cpp
    plan.cpp
    registration.cpp
    report.cpp
    run.cpp
    session.cpp
    sha256.cpp
    steps.cpp
    text.cpp
    unpack.cpp
    user_layouts.cpp
    version_block.cpp)
list(TRANSFORM SETUP_CORE_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
