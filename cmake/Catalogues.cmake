# Compiled message catalogues: po/<code>.po becomes <out>/<code>/LC_MESSAGES/orvel.mo, checked by
# msgfmt --check on the way (a broken format or header fails the build). gettext's tools are
# needed at build time only.
find_program(ORVEL_MSGFMT msgfmt REQUIRED)

# Adds `target`, which compiles every .po file of `po_dir` into `out_dir`, and sets
# `<target>_CODES` in the caller to the codes compiled.
function(orvel_catalogues target po_dir out_dir)
    file(GLOB po_files CONFIGURE_DEPENDS ${po_dir}/*.po)
    set(outputs "")
    set(codes "")
    foreach(po ${po_files})
        get_filename_component(code ${po} NAME_WE)
        set(mo ${out_dir}/${code}/LC_MESSAGES/orvel.mo)
        add_custom_command(OUTPUT ${mo}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}/${code}/LC_MESSAGES
            COMMAND ${ORVEL_MSGFMT} --check -o ${mo} ${po}
            DEPENDS ${po}
            COMMENT "Compiling the ${code} catalogue"
            VERBATIM)
        list(APPEND outputs ${mo})
        list(APPEND codes ${code})
    endforeach()
    add_custom_target(${target} ALL DEPENDS ${outputs})
    set(${target}_CODES ${codes} PARENT_SCOPE)
endfunction()
