# Widget sources of varnex2_judging (target_sources / target_link_libraries).
