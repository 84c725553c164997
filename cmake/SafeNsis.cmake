# Whether a makensis version text ("v3.10", "v3.08-3+deb12u1") names an NSIS
# whose uninstaller does not run from a temporary folder that the user's
# ordinary programs can change (CVE-2023-37378): NSIS 3.09 or later, or
# Debian's 3.08 from package revision 3.08-3+deb12u1 on, which carries the
# fix and says so in its version text. Anything else, a plain "v3.08"
# included, is not.
function(tarnwick_nsis_is_safe version_text out_var)
  set(safe OFF)
  if(version_text MATCHES "^v([0-9]+)\\.([0-9]+)(.*)$")
    set(release "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}")
    set(suffix "${CMAKE_MATCH_3}")
    if(release VERSION_GREATER_EQUAL 3.09)
      set(safe ON)
    elseif(release VERSION_EQUAL 3.08 AND suffix MATCHES "^-([0-9]+)\\+deb([0-9]+)u([0-9]+)$")
      set(revision ${CMAKE_MATCH_1})
      set(debian ${CMAKE_MATCH_2})
      set(update ${CMAKE_MATCH_3})
      if(revision GREATER 3 OR (revision EQUAL 3 AND (debian GREATER 12 OR (debian EQUAL 12 AND update GREATER_EQUAL 1))))
        set(safe ON)
      endif()
    endif()
  endif()
  set(${out_var} ${safe} PARENT_SCOPE)
endfunction()
