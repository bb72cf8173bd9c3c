# Tests of the writing half of the Access engine (included from CMakeLists.txt of this folder).
# The mdb-reader comparisons need node; scripts/oracles.sh installs mdb-reader outside the repository.
set(QM_WRITE_TESTS write_sql_test write_index_test write_index_compare_test write_index_api_test write_convert_test write_index_key_test write_names_test write_engine_test
    write_roundtrip_test write_random_test write_create_db_test write_cache_test write_jet3_test
    write_create_protected_test write_rename_test write_props_test
    write_relations_test)
foreach(t IN LISTS QM_WRITE_TESTS)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${t}.cpp)
    add_executable(jet_${t} ${t}.cpp)
    target_link_libraries(jet_${t} PRIVATE jet GTest::gtest_main quillmere_warnings)
    target_compile_definitions(jet_${t} PRIVATE QM_ACCESS_FIXTURES="${QUILLMERE_SHARED_DIR}/fixtures/access"
                               QM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    gtest_discover_tests(jet_${t} DISCOVERY_TIMEOUT 60)
  endif()
endforeach()
