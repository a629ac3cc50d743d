# SQLite for the sound library, as the target SQLite::SQLite3: the system's
# library (Debian's libsqlite3-dev), or, for a cross build where there is none,
# built here from a folder holding the amalgamation sqlite3.c and sqlite3.h
# (scripts/fetch-sqlite-source.sh makes it from Debian's source package).
set(QUORVANE_SQLITE_SOURCE_DIR "" CACHE PATH "Build SQLite from this folder's sqlite3.c instead of using the system's library")
if(TARGET SQLite::SQLite3)
  return()
endif()
if(NOT QUORVANE_SQLITE_SOURCE_DIR)
  find_package(SQLite3 REQUIRED)
  return()
endif()
if(NOT EXISTS ${QUORVANE_SQLITE_SOURCE_DIR}/sqlite3.c OR NOT EXISTS ${QUORVANE_SQLITE_SOURCE_DIR}/sqlite3.h)
  message(FATAL_ERROR "QUORVANE_SQLITE_SOURCE_DIR=${QUORVANE_SQLITE_SOURCE_DIR} holds no sqlite3.c and sqlite3.h")
endif()
enable_language(C)
add_library(quorvane_sqlite STATIC ${QUORVANE_SQLITE_SOURCE_DIR}/sqlite3.c)
target_include_directories(quorvane_sqlite SYSTEM PUBLIC ${QUORVANE_SQLITE_SOURCE_DIR})
# The library's own settings: threads serialised by SQLite, no extension
# loading (nothing is loaded from outside), the defaults for the rest.
target_compile_definitions(quorvane_sqlite PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0)
# Someone else's code: its warnings are not ours to fix.
target_compile_options(quorvane_sqlite PRIVATE -w)
if(NOT WIN32)
  target_link_libraries(quorvane_sqlite PUBLIC Threads::Threads ${CMAKE_DL_LIBS} m)
endif()
add_library(SQLite::SQLite3 ALIAS quorvane_sqlite)
