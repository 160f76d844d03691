# The Debian package: cmake --workflow --preset package (or ./make-package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME processus-en-direct)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ten small programs that show how processes behave")
# Debian wants the extended description's lines under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
  "For operating-systems classes: ten small programs that show what fork
returns, a zombie child left unreaped, a program replaced by execvp under the
same pid, random walkers seeded by their pid, a register-bound loop, a
cache-line query, a timing report; montagne, what a memory read costs; arbre,
predict a tree of forks, then see the real one; verifier, which checks a
student's program for an exercise by the kernel's own evidence, with the
exercises' statements and printed handout; and visite-processus, a guided
tour of them all to lecture with, the process tree live beside it. Messages
are in French; each program has a manual page.")
set(CPACK_PACKAGE_CONTACT "Processus en direct <equipe@processus-en-direct.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies from the libraries the programs really link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# verifier and arbre compile the program they check or show (cc and c++); the
# ten programs themselves need no compiler, hence a recommendation, which apt
# installs unless told not to.
# man-db makes the manual pages readable where man is not installed (a
# minimal Debian).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "g++, man-db")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/paquet)

# What every Debian package carries beside its programs: the changelog (a
# native package's is changelog.gz), the copyright file, and the lintian
# overrides for French words its English dictionary takes for typos.
set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
set(changelog_gz ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND gzip -9n -c ${CMAKE_CURRENT_LIST_DIR}/changelog > ${changelog_gz}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog VERBATIM)
add_custom_target(changelog ALL DEPENDS ${changelog_gz})
install(FILES ${changelog_gz} ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${doc})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME ${CPACK_PACKAGE_NAME})

if(SUITE_PAQUET_DEBIAN)
  # strip leaves the compiler's .comment section; Debian's own packaging
  # removes it. Runs after every program is installed (and stripped).
  list(JOIN suite_programmes " " programmes_installes)
  install(CODE "
    foreach(p ${programmes_installes})
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${p}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()")
endif()

# Two packages from one build: the students' (every program, page and
# exercise: the components Unspecified and exercices) and the teachers'
# (enseignant/: solutions, erreurs/ and variantes/, a lab plan), which needs
# the students' one beside it.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_COMPONENTS_ALL Unspecified exercices enseignant)
set(CPACK_DEBIAN_ELEVES_PACKAGE_NAME ${CPACK_PACKAGE_NAME})
# CPack gives every package the same first line, the summary above.
set(CPACK_DEBIAN_ELEVES_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_ENSEIGNANT_PACKAGE_NAME ${CPACK_PACKAGE_NAME}-enseignant)
set(CPACK_DEBIAN_ENSEIGNANT_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_ENSEIGNANT_PACKAGE_DEPENDS "${CPACK_PACKAGE_NAME} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_ENSEIGNANT_PACKAGE_RECOMMENDS "")
set(CPACK_DEBIAN_ENSEIGNANT_DESCRIPTION "The teachers' material for these programs' exercises: the solution of
every exercise, the mistaken programs real students write (each fails the
criterion it names) and other right ways to solve them, to show in class,
and a plan for a two-hour lab. Not for the students' machines.")
set(doc_enseignant ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_ENSEIGNANT_PACKAGE_NAME})
install(FILES ${changelog_gz} ${CMAKE_CURRENT_LIST_DIR}/copyright
        COMPONENT enseignant DESTINATION ${doc_enseignant})

include(CPack)
cpack_add_component_group(eleves)
cpack_add_component_group(enseignant)
cpack_add_component(Unspecified GROUP eleves)
cpack_add_component(exercices GROUP eleves)
cpack_add_component(enseignant GROUP enseignant)
