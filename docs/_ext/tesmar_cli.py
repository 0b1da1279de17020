def setup(app):
    return {"parallel_read_safe": True}
