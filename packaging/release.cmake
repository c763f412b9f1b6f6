# SPDX-License-Identifier: GPL-3.0-or-later
# The release is the changelog's newest entry: it must be for this version, and its date is the
# one the AppStream metadata and the manual page give.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog.in release_version LIMIT_COUNT 1
     REGEX "^zaprun \\(")
if(NOT release_version MATCHES "^zaprun \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog.in has no newest entry for ${PROJECT_VERSION} "
                        "(it starts: '${release_version}')")
endif()
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog.in release_trailer LIMIT_COUNT 1 REGEX "^ -- ")
if(NOT release_trailer MATCHES ">  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ")
    message(FATAL_ERROR "packaging/changelog.in: no date in '${release_trailer}'")
endif()
set(release_day ${CMAKE_MATCH_1})
set(release_year ${CMAKE_MATCH_3})
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} release_month)
math(EXPR release_month "${release_month} + 1")
if(release_month LESS 10)
    set(release_month 0${release_month})
endif()
set(ZAPRUN_RELEASE_DATE ${release_year}-${release_month}-${release_day})
