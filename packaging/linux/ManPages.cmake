# The programs' manual pages, gzipped into ${ZW_MAN_DIR} by the target man-pages (part of every
# build). zanowipe-cli's and zanowipe-boxsim's are made by help2man from the program's own
# --help, with what --help does not say from man/NAME.h2m, so options and exit statuses in the
# page are always the program's; the window has no command line, its page is written by hand
# (man/zanowipe.1.in). Included by Deb.cmake, which finds ZW_GZIP, names ZW_CHANGELOG and
# installs ZW_MAN_PAGES.
#
# The pages are dated by the newest entry of the Debian changelog ZW_CHANGELOG
# (SOURCE_DATE_EPOCH), not by the day of the build, so the same sources make the same pages.
find_program(ZW_HELP2MAN help2man)
if(NOT ZW_HELP2MAN)
  message(FATAL_ERROR "help2man is missing (it makes the manual pages): run scripts/install-deps.sh")
endif()

set(ZW_MAN_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/man)
set(ZW_MAN_DIR ${CMAKE_BINARY_DIR}/packaging/man)

execute_process(COMMAND dpkg-parsechangelog -l ${ZW_CHANGELOG} -S Timestamp
                OUTPUT_VARIABLE ZW_CHANGELOG_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT ZW_CHANGELOG_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "cannot read the date of ${ZW_CHANGELOG} (dpkg-parsechangelog, dpkg-dev)")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZW_CHANGELOG})
# string(TIMESTAMP) takes the time from SOURCE_DATE_EPOCH when it is set.
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${ZW_CHANGELOG_EPOCH})
string(TIMESTAMP ZW_MAN_DATE "%B %Y" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")

set(ZW_MAN_PAGES)

# zw_help2man_page(target name): the page of `target`, installed as the program `name`.
# help2man runs `PROGRAM --help` through the shell and names the page after PROGRAM's file
# name, so it is given a script of that name which prints the real program's --help as
# help-for-help2man.sh evens it out.
function(zw_help2man_page target name)
  set(view ${ZW_MAN_DIR}/help/${name})
  file(GENERATE OUTPUT ${view}
       CONTENT "#!/bin/sh\nexec bash '${ZW_MAN_SOURCE_DIR}/help-for-help2man.sh' '${name}' '$<TARGET_FILE:${target}>' \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)
  set(page ${ZW_MAN_DIR}/${name}.1)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${ZW_CHANGELOG_EPOCH}
            ${ZW_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
            "--source=Zanowipe ${PROJECT_VERSION}" "--manual=User Commands"
            --include=${ZW_MAN_SOURCE_DIR}/${name}.h2m --output=${page} ${view}
    COMMAND ${ZW_GZIP} -9nf ${page}
    DEPENDS ${target} ${view} ${ZW_MAN_SOURCE_DIR}/${name}.h2m
            ${ZW_MAN_SOURCE_DIR}/help-for-help2man.sh
    COMMENT "Manual page ${name}(1) from ${name} --help"
    VERBATIM)
  set(ZW_MAN_PAGES ${ZW_MAN_PAGES} ${page}.gz PARENT_SCOPE)
endfunction()

zw_help2man_page(zanowipe-cli zanowipe-cli)
zw_help2man_page(boxsim zanowipe-boxsim)

configure_file(${ZW_MAN_SOURCE_DIR}/zanowipe.1.in ${ZW_MAN_DIR}/zanowipe.1 @ONLY)
add_custom_command(
  OUTPUT ${ZW_MAN_DIR}/zanowipe.1.gz
  COMMAND ${ZW_GZIP} -9nkf ${ZW_MAN_DIR}/zanowipe.1
  DEPENDS ${ZW_MAN_DIR}/zanowipe.1
  COMMENT "Manual page zanowipe(1)"
  VERBATIM)
list(APPEND ZW_MAN_PAGES ${ZW_MAN_DIR}/zanowipe.1.gz)

add_custom_target(man-pages ALL DEPENDS ${ZW_MAN_PAGES})
