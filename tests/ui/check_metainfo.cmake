# Validates the AppStream metadata as software centres read it, offline, and checks that it names
# the desktop entry the package installs and the project's version.
#   cmake -DAPPSTREAMCLI=... -DMETAINFO=... -DID=... -DDESKTOP_ID=... -DVERSION=... -P check_metainfo.cmake

cmake_minimum_required(VERSION 3.25)

if(NOT APPSTREAMCLI)
  message(FATAL_ERROR "appstreamcli is missing; scripts/install-deps.sh installs it")
endif()
execute_process(COMMAND "${APPSTREAMCLI}" validate --no-net --no-color "${METAINFO}"
  RESULT_VARIABLE result OUTPUT_VARIABLE report ERROR_VARIABLE report)
# Errors and warnings fail the validation; infos and pedantic notes are advice. The project has no
# homepage yet, and newer validators warn of that: that one finding is accepted, by its tag, and
# only it; the validator's failing exit status is then its own and nothing else's.
set(accepted "(^|\n)W: [^\n]*: url-homepage-missing(\n|$)")
string(REGEX REPLACE "${accepted}" "\\1" rest "${report}")
if(rest MATCHES "(^|\n)[EW]: " OR (NOT result EQUAL 0 AND rest STREQUAL report))
  message(FATAL_ERROR "appstreamcli validate: ${report}")
endif()

get_filename_component(name "${METAINFO}" NAME)
if(NOT name STREQUAL "${ID}.metainfo.xml")
  message(FATAL_ERROR "${name} is not named after its id ${ID}")
endif()
file(READ "${METAINFO}" xml)
foreach(expected
    "<id>${ID}</id>"
    "<launchable type=\"desktop-id\">${DESKTOP_ID}</launchable>"
    "<release version=\"${VERSION}\""
    "<content_rating type=\"oars-1.1\"")
  string(FIND "${xml}" "${expected}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the metadata lacks ${expected}")
  endif()
endforeach()
