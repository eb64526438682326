# Platform match records and node groups, part of the platform section.
target_sources(tessera_registration PRIVATE
)
